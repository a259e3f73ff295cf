#include "transcode/read_tags_with_covers.h"

#include <cstring>

#include "app/settings.h"
#include "decoders/decoder.h"
#include "encoders/encoder.h"
#include "encoders/forwarding_encoder.h"
#include "logging/logger.h"
#include "transcode/folder_cover.h"

namespace {

constexpr int kFrontCover = 3;

// Hands everything on to the real encoder except, when they are not wanted, the
// pictures; and notes whether the source had any.
class PictureFilter final : public ForwardingEncoder {
 public:
  PictureFilter(Encoder& target, bool keep_pictures)
      : ForwardingEncoder(target), keep_pictures(keep_pictures) {}

  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length) override {
    saw_picture = true;
    if (keep_pictures) {
      target.add_picture(mime_type, picture_type, description, data, data_length);
    }
  }

  bool saw_picture = false;

 private:
  bool keep_pictures;
};

void add_folder_cover(Encoder& encoder, const std::string& source_path) {
  const std::string path = find_folder_cover(source_path);
  if (path.empty()) return;
  FolderCover cover;
  if (!read_folder_cover(path, cover)) return;
  Logging::Logger(Logging::DEBUG) << "Adding cover file " << path << ".";
  encoder.add_picture(cover.mime_type.c_str(), kFrontCover, "", cover.data.data(),
                      static_cast<int>(cover.data.size()));
}

}  // namespace

std::optional<CoverMode> parse_cover_mode(const char* text) {
  if (text == nullptr) return std::nullopt;
  if (std::strcmp(text, "embedded") == 0) return CoverMode::Embedded;
  if (std::strcmp(text, "folder") == 0) return CoverMode::Folder;
  if (std::strcmp(text, "none") == 0) return CoverMode::None;
  return std::nullopt;
}

int read_tags_with_covers(Decoder& decoder, Encoder& encoder, const std::string& source_path) {
  // Start-up refuses other values, so the fallback only serves callers that skip it.
  const CoverMode mode = parse_cover_mode(settings.covers).value_or(CoverMode::Embedded);
  PictureFilter filter(encoder, mode != CoverMode::None);
  if (decoder.read_tags(&filter) == -1) return -1;
  if (mode == CoverMode::Folder && !filter.saw_picture) add_folder_cover(encoder, source_path);
  return 0;
}
