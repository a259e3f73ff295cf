#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Encoder;

// One comment split at its first "=", the name upper-cased; the value keeps its stored bytes.
struct Comment {
  std::string name;
  std::string value;
};

// None for an entry without "=" or with an empty name: such entries carry no tag.
std::optional<Comment> split_comment(std::string_view entry);

// The entries of a comment block as stored (little-endian lengths: vendor, count, each
// entry); false, with entries partly filled, where a length runs past the bytes.
bool parse_comment_list(std::string_view bytes, std::vector<std::string>& entries);

// The scan of one comment block: known names become text tags, the ReplayGain
// names set the gains, and finish() applies the gain once.
class CommentScan {
 public:
  explicit CommentScan(Encoder* encoder) : encoder(encoder) {}

  // true when the comment was a tag or a gain; false leaves it to the caller.
  bool take(const Comment& comment);
  void finish();

 private:
  Encoder* encoder;
  double album_gain = 1000.0;
  double track_gain = 1000.0;
  double reference_loudness = 1000.0;
};

// Picks album or track gain by the gainmode setting and hands it, corrected to
// the gainref setting, to the encoder. 1000.0 marks a value as absent.
void apply_replaygain(Encoder* encoder, double reference_loudness, double album_gain,
                      double track_gain);
