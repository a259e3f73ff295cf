#include "sheets/image_sheet.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "decoders/decoder.h"
#include "logging/logger.h"
#include "sheets/embedded_sheet.h"
#include "sheets/sheet_text.h"
#include "sheets/stream_facts.h"

namespace {

// Far beyond any real sheet; a larger .cue is not read.
constexpr off_t kMaxSheetBytes = 1 << 20;

bool has_extension(const std::string& name, const char* extension) {
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && strcasecmp(name.c_str() + dot + 1, extension) == 0;
}

std::optional<Sheet> read_sheet_file(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSheetBytes) {
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse_sheet(sheet_text_to_utf8(bytes));
}

void warn(const std::string& image_path, const std::string& what, const std::string& why) {
  Logging::Logger(Logging::WARNING)
      << "Sheet " << what << " not used for " << image_path << ": " << why << ".";
}

// A sheet inside the image is about the image whatever its FILE line calls it, unless it
// names several files.
std::optional<std::string> embedded_file(const Sheet& sheet, const std::string& image_name,
                                         const std::vector<std::string>& audio_names) {
  const std::string& first = sheet.tracks.front().file;
  const bool one_file = std::all_of(sheet.tracks.begin(), sheet.tracks.end(),
                                    [&](const SheetTrack& t) { return t.file == first; });
  if (one_file) return first;
  return sheet_file_for(sheet, image_name, audio_names);
}

}  // namespace

bool is_sheet_name(const std::string& name) {
  return has_extension(name, "cue");
}

DirectorySheets read_directory_sheets(const std::string& directory,
                                      const std::vector<std::string>& names,
                                      EmbeddedSheetMemo* memo) {
  DirectorySheets found;
  found.directory = directory;
  found.memo = memo;
  for (const std::string& name : names) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    if (is_sheet_name(name)) {
      found.sheets.emplace_back(name, read_sheet_file(directory + "/" + name));
      if (!found.sheets.back().second) {
        Logging::Logger(Logging::WARNING)
            << "Sheet " << directory << "/" << name << " does not parse; it is not used.";
      }
    } else if (has_decoder(name.substr(dot + 1))) {
      found.audio_names.push_back(name);
    }
  }
  std::sort(found.sheets.begin(), found.sheets.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return found;
}

std::optional<SheetFound> locate_image_sheet(const DirectorySheets& sheets,
                                             const std::string& image_name) {
  const std::string image_path = sheets.directory + "/" + image_name;
  for (const auto& [name, sheet] : sheets.sheets) {
    if (!sheet) continue;
    if (auto file = sheet_file_for(*sheet, image_name, sheets.audio_names)) {
      return SheetFound{name, *sheet, *file};
    }
  }
  const std::string own_name = name_stem(image_name) + ".cue";
  for (const auto& [name, sheet] : sheets.sheets) {
    if (sheet && strcasecmp(name.c_str(), own_name.c_str()) == 0) {
      warn(image_path, name, "it names no file here");
    }
  }
  if (sheets.memo && sheets.memo->holds_none(image_name)) return std::nullopt;
  bool holds_none = false;
  if (auto sheet = read_embedded_sheet(image_path, &holds_none)) {
    if (auto file = embedded_file(*sheet, image_name, sheets.audio_names)) {
      return SheetFound{{}, std::move(*sheet), *file};
    }
    warn(image_path, "inside the file", "it names other files");
  } else if (holds_none && sheets.memo) {
    sheets.memo->found_none(image_name);
  }
  return std::nullopt;
}

std::optional<ImageSheet> fit_image_sheet(const std::string& image_path, SheetFound found,
                                          uint64_t total_samples, unsigned sample_rate) {
  const std::string what = found.sheet_name.empty() ? "inside the file" : found.sheet_name;
  std::string why;
  auto ranges = track_ranges(found.sheet, found.file, sample_rate, total_samples, why);
  if (!ranges) {
    warn(image_path, what, why);
    return std::nullopt;
  }
  return ImageSheet{std::move(found.sheet_name), std::move(found.sheet), std::move(*ranges)};
}

std::optional<ImageSheet> find_image_sheet(const DirectorySheets& sheets,
                                           const std::string& image_name) {
  auto found = locate_image_sheet(sheets, image_name);
  if (!found) return std::nullopt;
  const std::string image_path = sheets.directory + "/" + image_name;
  uint64_t total = 0;
  unsigned rate = 0;
  if (!read_stream_facts(image_path, total, rate)) {
    warn(image_path, found->sheet_name.empty() ? "inside the file" : found->sheet_name,
         "the audio's length cannot be read");
    return std::nullopt;
  }
  return fit_image_sheet(image_path, std::move(*found), total, rate);
}
