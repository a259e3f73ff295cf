#include "sheets/track_map.h"

#include <gtest/gtest.h>

namespace {

Sheet sheet_of(const std::vector<std::pair<std::string, int64_t>>& file_and_index1) {
  Sheet sheet;
  int number = 0;
  for (const auto& [file, index1] : file_and_index1) {
    SheetTrack track;
    track.number = ++number;
    track.file = file;
    track.index1 = index1;
    sheet.tracks.push_back(track);
  }
  return sheet;
}

}  // namespace

TEST(SheetFileFor, NamesTheImageOrItsBaseNameWhenThatIsUnambiguous) {
  const struct {
    std::vector<std::string> files;
    std::string image;
    std::vector<std::string> audio;
    std::optional<std::string> expected;
  } cases[] = {
      {{"Album.flac"}, "Album.flac", {"Album.flac"}, "Album.flac"},
      {{"ALBUM.FLAC"}, "Album.flac", {"Album.flac"}, "ALBUM.FLAC"},
      {{"C:\\rips\\Album.flac"}, "Album.flac", {"Album.flac"}, "C:\\rips\\Album.flac"},
      {{"Album.wav"}, "Album.flac", {"Album.flac"}, "Album.wav"},
      {{"Album.wav"}, "Album.flac", {"Album.flac", "Album.ogg"}, std::nullopt},
      {{"Other.wav"}, "Album.flac", {"Album.flac"}, std::nullopt},
      {{"A.wav", "B.wav"}, "B.flac", {"A.flac", "B.flac"}, "B.wav"},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<std::string, int64_t>> entries;
    for (const std::string& file : c.files) entries.emplace_back(file, 0);
    EXPECT_EQ(sheet_file_for(sheet_of(entries), c.image, c.audio), c.expected) << c.image;
  }
}

TEST(TrackRanges, RunFromIndexOneToTheNextAndRefuseWhatDoesNotFit) {
  constexpr unsigned kRate = 44100;
  constexpr uint64_t kTotal = 10 * kRate;
  const struct {
    const char* name;
    std::vector<std::pair<std::string, int64_t>> tracks;
    std::vector<std::pair<uint64_t, uint64_t>> expected;  // empty: refused
  } cases[] = {
      {"two tracks", {{"a", 0}, {"a", 75}}, {{0, kRate}, {kRate, kTotal}}},
      {"a frame is 588 samples at 44.1 kHz", {{"a", 1}, {"a", 2}}, {{588, 1176}, {1176, kTotal}}},
      {"other files' tracks left out",
       {{"a", 0}, {"b", 10}, {"a", 150}},
       {{0, 2 * kRate}, {2 * kRate, kTotal}}},
      {"one track", {{"a", 0}}, {}},
      {"an index at the end", {{"a", 0}, {"a", 750}}, {}},
      {"an index beyond the end", {{"a", 0}, {"a", 751}}, {}},
      {"out of order", {{"a", 75}, {"a", 75}}, {}},
      {"no INDEX 01", {{"a", 0}, {"a", -1}}, {}},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto ranges = track_ranges(sheet_of(c.tracks), "a", kRate, kTotal, why);
    if (c.expected.empty()) {
      EXPECT_FALSE(ranges) << c.name;
      EXPECT_FALSE(why.empty()) << c.name;
      continue;
    }
    ASSERT_TRUE(ranges) << c.name << ": " << why;
    ASSERT_EQ(ranges->size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ((*ranges)[i].first, c.expected[i].first) << c.name;
      EXPECT_EQ((*ranges)[i].end, c.expected[i].second) << c.name;
    }
  }
}

TEST(TrackRanges, PregapStaysWithTheTrackBefore) {
  Sheet sheet = sheet_of({{"a", 0}, {"a", 300}});
  sheet.tracks[1].index0 = 225;
  std::string why;
  const auto ranges = track_ranges(sheet, "a", 44100, 44100 * 10, why);
  ASSERT_TRUE(ranges);
  EXPECT_EQ((*ranges)[0].end, 4u * 44100);
}

TEST(TrackFileName, NumbersTitlesAndPrefixes) {
  const struct {
    int number;
    std::string title;
    std::string image;
    std::string expected;
  } cases[] = {
      {3, "Intro", "", "03 - Intro.mp3"},
      {100, "Late", "", "100 - Late.mp3"},
      {7, "", "", "07 - Track 07.mp3"},
      {1, "AC/DC\tlive\x7f", "", "01 - AC_DC_live_.mp3"},
      {2, "Song", "Disc 1", "Disc 1 - 02 - Song.mp3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(track_file_name(c.number, c.title, "mp3", c.image), c.expected);
  }
  // A long title is cut at a character boundary to fit a 255-byte name.
  std::string long_title;
  for (int i = 0; i < 200; ++i) long_title += "\xC3\xA9";
  const std::string name = track_file_name(1, long_title, "mp3");
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.substr(name.size() - 6), "\xC3\xA9.mp3");
}
