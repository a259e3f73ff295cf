#include "decoders/ffmpeg_tags.h"

#include <cctype>
#include <map>
#include <string>

namespace {

struct CommentNames {
  const char* name;
  const char* total = nullptr;  // set for "number/total" values
};

// FFmpeg's spellings (upper-cased) whose Vorbis-comment name differs, and the
// number fields that may carry their total after a "/".
const std::map<std::string, CommentNames, std::less<>> comment_names = {
    {"ALBUM_ARTIST", {"ALBUMARTIST"}},
    {"AUTHOR", {"ARTIST"}},
    {"YEAR", {"DATE"}},
    {"PUBLISHER", {"ORGANIZATION"}},
    {"LABEL", {"ORGANIZATION"}},
    {"ENCODEDBY", {"ENCODED_BY"}},
    {"TRACK", {"TRACKNUMBER", "TRACKTOTAL"}},
    {"TRACKNUMBER", {"TRACKNUMBER", "TRACKTOTAL"}},
    {"TOTALTRACKS", {"TRACKTOTAL"}},
    {"DISC", {"DISCNUMBER", "DISCTOTAL"}},
    {"DISCNUMBER", {"DISCNUMBER", "DISCTOTAL"}},
    {"TOTALDISCS", {"DISCTOTAL"}},
};

}  // namespace

std::vector<Comment> ffmpeg_comments(std::string_view key, std::string_view value) {
  std::string name(key);
  for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (name.empty()) return {};
  const auto known = comment_names.find(name);
  if (known == comment_names.end()) return {{name, std::string(value)}};

  const CommentNames& names = known->second;
  const size_t slash = names.total ? value.find('/') : std::string_view::npos;
  if (slash == std::string_view::npos) return {{names.name, std::string(value)}};
  std::vector<Comment> comments;
  if (slash > 0) comments.push_back({names.name, std::string(value.substr(0, slash))});
  if (slash + 1 < value.size())
    comments.push_back({names.total, std::string(value.substr(slash + 1))});
  return comments;
}
