#include "decoders/vorbis_comments.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "app/settings.h"
#include "decoders/tag_kinds.h"
#include "encoders/encoder.h"

namespace {

constexpr double kAbsent = 1000.0;
constexpr double kDefaultReference = 89.0;

bool present(double value) {
  return value != kAbsent;
}

// A cursor over a comment block's little-endian fields that refuses to run past them.
class CommentFields {
 public:
  explicit CommentFields(std::string_view bytes) : bytes(bytes) {}
  bool length(uint32_t& value) {
    if (bytes.size() - at < 4) return false;
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    value = uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
    at += 4;
    return true;
  }
  bool text(uint32_t length, std::string& value) {
    if (length > bytes.size() - at) return false;
    value.assign(bytes.substr(at, length));
    at += length;
    return true;
  }

 private:
  std::string_view bytes;
  size_t at = 0;
};

}  // namespace

bool parse_comment_list(std::string_view bytes, std::vector<std::string>& entries) {
  CommentFields fields(bytes);
  uint32_t length = 0;
  uint32_t count = 0;
  std::string vendor;
  if (!fields.length(length) || !fields.text(length, vendor) || !fields.length(count)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::string entry;
    if (!fields.length(length) || !fields.text(length, entry)) return false;
    entries.push_back(std::move(entry));
  }
  return true;
}

std::optional<Comment> split_comment(std::string_view entry) {
  size_t equals = entry.find('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  Comment comment{std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1))};
  for (char& c : comment.name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return comment;
}

bool CommentScan::take(const Comment& comment) {
  auto kind = tag_kinds.find(comment.name);
  if (kind != tag_kinds.end()) {
    encoder->add_text_tag(kind->second, comment.value.c_str());
    return true;
  }
  double* gain = comment.name == "REPLAYGAIN_ALBUM_GAIN"           ? &album_gain
                 : comment.name == "REPLAYGAIN_TRACK_GAIN"         ? &track_gain
                 : comment.name == "REPLAYGAIN_REFERENCE_LOUDNESS" ? &reference_loudness
                                                                   : nullptr;
  if (!gain) return false;
  *gain = strtod(comment.value.c_str(), nullptr);
  return true;
}

void CommentScan::finish() {
  apply_replaygain(encoder, reference_loudness, album_gain, track_gain);
}

void apply_replaygain(Encoder* encoder, double reference_loudness, double album_gain,
                      double track_gain) {
  double gain;
  if (settings.gainmode == 1 && present(album_gain)) {
    gain = album_gain;
  } else if ((settings.gainmode == 1 || settings.gainmode == 2) && present(track_gain)) {
    gain = track_gain;
  } else {
    return;
  }
  double reference = present(reference_loudness) ? reference_loudness : kDefaultReference;
  encoder->apply_gain(gain + (static_cast<double>(settings.gainref) - reference));
}
