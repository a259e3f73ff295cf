#include "decoders/vorbis_comments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "support/recording_encoder.h"
#include "support/settings_guard.h"

namespace {

struct SplitCase {
  std::string entry;
  std::optional<std::pair<std::string, std::string>> expected;
};

TEST(SplitComment, SplitsAtTheFirstEqualsAndUpperCasesTheName) {
  const SplitCase cases[] = {
      {"title=Song", {{"TITLE", "Song"}}},
      {"TiTlE=Song", {{"TITLE", "Song"}}},
      {"album artist=X", {{"ALBUM ARTIST", "X"}}},
      {"a=b=c", {{"A", "b=c"}}},
      {"DATE=", {{"DATE", ""}}},
      {"caf\xc3\xa9=v", {{"CAF\xc3\xa9", "v"}}},  // only ASCII letters change
      {std::string("T=a\0b", 5), {{"T", std::string("a\0b", 3)}}},
      {"noequals", std::nullopt},
      {"=starts with equals", std::nullopt},
      {"", std::nullopt},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.entry);
    auto comment = split_comment(c.entry);
    ASSERT_EQ(comment.has_value(), c.expected.has_value());
    if (comment) {
      EXPECT_EQ(comment->name, c.expected->first);
      EXPECT_EQ(comment->value, c.expected->second);
    }
  }
}

// Runs the scan over raw entries, as a decoder does.
void scan(RecordingEncoder& encoder, const std::vector<std::string>& entries) {
  CommentScan comments(&encoder);
  for (const std::string& entry : entries) {
    if (auto comment = split_comment(entry)) comments.take(*comment);
  }
  comments.finish();
}

TEST(CommentScan, KnownNamesInAnyCaseBecomeTextTags) {
  SettingsGuard guard;
  settings.gainmode = 0;
  RecordingEncoder encoder;
  scan(encoder,
       {"title=Song", "Album Artist=A1", "albumartist=A2", "ALBUM_ARTIST=ignored", "ARTIST=one",
        "artist=two", "UNKNOWN=x", "tracknumber=3", std::string("GENRE=Rock\0Pop", 14)});
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{"add_text_tag 0 Song", "add_text_tag 11 A1",
                                                     "add_text_tag 11 A2", "add_text_tag 1 one",
                                                     "add_text_tag 1 two", "add_text_tag 12 3",
                                                     "add_text_tag 3 Rock"}));
}

TEST(CommentScan, TakeTellsTheCallerWhichCommentsItLeftAlone) {
  RecordingEncoder encoder;
  CommentScan comments(&encoder);
  EXPECT_TRUE(comments.take({"TITLE", "x"}));
  EXPECT_TRUE(comments.take({"REPLAYGAIN_TRACK_GAIN", "1"}));
  EXPECT_FALSE(comments.take({"METADATA_BLOCK_PICTURE", "x"}));
  EXPECT_FALSE(comments.take({"ALBUM_ARTIST", "x"}));
}

struct GainCase {
  const char* name;
  int gainmode;
  float gainref;
  std::vector<std::string> comments;
  std::optional<double> expected;
};

TEST(CommentScan, ReplayGainFollowsTheModeAndTheReference) {
  const GainCase cases[] = {
      {"album preferred",
       1,
       89,
       {"REPLAYGAIN_ALBUM_GAIN=-7.5", "REPLAYGAIN_TRACK_GAIN=-6.0"},
       -7.5},
      {"track fallback", 1, 89, {"REPLAYGAIN_TRACK_GAIN=-6.0"}, -6.0},
      {"mode 2 never uses album", 2, 89, {"REPLAYGAIN_ALBUM_GAIN=-7.5"}, std::nullopt},
      {"mode 2 track", 2, 89, {"REPLAYGAIN_ALBUM_GAIN=-7.5", "REPLAYGAIN_TRACK_GAIN=-6.0"}, -6.0},
      {"mode 0 ignores",
       0,
       89,
       {"REPLAYGAIN_ALBUM_GAIN=-7.5", "REPLAYGAIN_TRACK_GAIN=-6"},
       std::nullopt},
      {"mode 3 ignores", 3, 89, {"REPLAYGAIN_TRACK_GAIN=-6"}, std::nullopt},
      {"reference",
       2,
       89,
       {"REPLAYGAIN_TRACK_GAIN=-6.0", "REPLAYGAIN_REFERENCE_LOUDNESS=83.0"},
       0.0},
      {"gainref 92 mode 1", 1, 92, {"REPLAYGAIN_TRACK_GAIN=-6.0"}, -3.0},
      {"gainref 92 mode 2", 2, 92, {"REPLAYGAIN_TRACK_GAIN=-6.0"}, -3.0},
      {"lower-case name, unit", 1, 89, {"replaygain_album_gain=-4.20 dB"}, -4.2},
      {"leading blanks", 2, 89, {"REPLAYGAIN_TRACK_GAIN=   -3.20 dB"}, -3.2},
      {"1000 is absent", 1, 89, {"REPLAYGAIN_ALBUM_GAIN=1000", "REPLAYGAIN_TRACK_GAIN=-2"}, -2.0},
      {"1000 everywhere",
       1,
       89,
       {"REPLAYGAIN_ALBUM_GAIN=1000.0", "REPLAYGAIN_TRACK_GAIN=1e3"},
       std::nullopt},
      {"not a number is 0", 2, 89, {"REPLAYGAIN_TRACK_GAIN=loud"}, 0.0},
      {"later overwrites", 2, 89, {"REPLAYGAIN_TRACK_GAIN=-1", "REPLAYGAIN_TRACK_GAIN=-5"}, -5.0},
      {"reference 1000 is absent",
       2,
       89,
       {"REPLAYGAIN_TRACK_GAIN=-1", "REPLAYGAIN_REFERENCE_LOUDNESS=1000"},
       -1.0},
      {"no gain comments", 1, 89, {"TITLE=x"}, std::nullopt},
      // The float gainref is widened before the difference: 89.1f is not 89.1.
      {"widened gainref",
       2,
       89.1f,
       {"REPLAYGAIN_TRACK_GAIN=-6"},
       -6.0 + (static_cast<double>(89.1f) - 89.0)},
  };
  for (const GainCase& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsGuard guard;
    settings.gainmode = c.gainmode;
    settings.gainref = c.gainref;
    RecordingEncoder encoder;
    scan(encoder, c.comments);
    if (c.expected) {
      ASSERT_EQ(encoder.gains.size(), 1u);
      EXPECT_EQ(encoder.gains[0], *c.expected);
    } else {
      EXPECT_TRUE(encoder.gains.empty());
    }
  }
}

TEST(ApplyReplaygain, NotANumberCountsAsPresent) {
  SettingsGuard guard;
  settings.gainmode = 1;
  settings.gainref = 89;
  RecordingEncoder encoder;
  apply_replaygain(&encoder, 1000.0, std::numeric_limits<double>::quiet_NaN(), -6.0);
  ASSERT_EQ(encoder.gains.size(), 1u);
  EXPECT_TRUE(std::isnan(encoder.gains[0]));
}

}  // namespace
