#include "decoders/ffmpeg_tags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TagCase {
  const char* key;
  const char* value;
  std::vector<std::pair<std::string, std::string>> comments;
};

const TagCase kCases[] = {
    // Vorbis-comment names pass with their name upper-cased.
    {"title", "Song", {{"TITLE", "Song"}}},
    {"REPLAYGAIN_TRACK_GAIN", "-3 dB", {{"REPLAYGAIN_TRACK_GAIN", "-3 dB"}}},
    {"Album Artist", "Various", {{"ALBUM ARTIST", "Various"}}},
    // MP4, APEv2, RIFF and ID3 spellings become the comment names.
    {"album_artist", "Various", {{"ALBUMARTIST", "Various"}}},
    {"Year", "1999", {{"DATE", "1999"}}},
    {"publisher", "Label", {{"ORGANIZATION", "Label"}}},
    {"author", "Band", {{"ARTIST", "Band"}}},
    // Numbers with their totals.
    {"track", "3/12", {{"TRACKNUMBER", "3"}, {"TRACKTOTAL", "12"}}},
    {"Track", "3", {{"TRACKNUMBER", "3"}}},
    {"TRACKNUMBER", "4/9", {{"TRACKNUMBER", "4"}, {"TRACKTOTAL", "9"}}},
    {"disc", "1/2", {{"DISCNUMBER", "1"}, {"DISCTOTAL", "2"}}},
    {"disc", "/2", {{"DISCTOTAL", "2"}}},
    {"track", "7/", {{"TRACKNUMBER", "7"}}},
    {"totaltracks", "12", {{"TRACKTOTAL", "12"}}},
    // A slash means nothing in other names.
    {"title", "AC/DC", {{"TITLE", "AC/DC"}}},
    // Unknown names pass on for the scan to ignore; an empty name carries nothing.
    {"handler_name", "SoundHandler", {{"HANDLER_NAME", "SoundHandler"}}},
    {"", "x", {}},
};

TEST(FfmpegComments, MapKeysOntoTheCommentVocabulary) {
  for (const TagCase& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    std::vector<std::pair<std::string, std::string>> got;
    for (const Comment& comment : ffmpeg_comments(c.key, c.value)) {
      got.emplace_back(comment.name, comment.value);
    }
    EXPECT_EQ(got, c.comments);
  }
}

}  // namespace
