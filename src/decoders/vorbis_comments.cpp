#include "decoders/vorbis_comments.h"

#include <cctype>
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

}  // namespace

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
