// Sheet text as it may arrive from a file or a tag: decoded, parsed, matched to an image
// and mapped onto samples and names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sheets/sheet.h"
#include "sheets/sheet_text.h"
#include "sheets/track_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text =
      sheet_text_to_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto sheet = parse_sheet(text);
  if (!sheet) return 0;
  const std::vector<std::string> audio = {"Album.flac", "Album.wav", "Other.flac"};
  for (const SheetTrack& track : sheet->tracks) {
    track_file_name(track.number, track.title, "mp3", "Album");
  }
  for (const char* image : {"Album.flac", "Other.flac"}) {
    const auto file = sheet_file_for(*sheet, image, audio);
    if (!file) continue;
    for (const unsigned rate : {8000u, 44100u, 192000u}) {
      std::string why;
      track_ranges(*sheet, *file, rate, uint64_t{rate} * 4000, why);
    }
  }
  return 0;
}
