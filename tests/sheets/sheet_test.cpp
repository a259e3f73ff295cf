#include "sheets/sheet.h"

#include <gtest/gtest.h>

TEST(ParseSheet, ReadsDiscAndTrackFieldsWithRemLinesLibcueSkips) {
  const auto sheet = parse_sheet(
      "REM GENRE \"Post Rock\"\n"
      "REM DATE 2001\n"
      "REM DISCNUMBER 2\n"
      "REM TOTALDISCS 3\n"
      "REM COMMENT \"ripped\"\n"
      "REM REPLAYGAIN_ALBUM_GAIN -6.50 dB\n"
      "PERFORMER \"Band\"\n"
      "SONGWRITER \"Writer\"\n"
      "TITLE \"Album\"\n"
      "FILE \"a.wav\" WAVE\n"
      "  TRACK 01 AUDIO\n"
      "    TITLE \"One\"\n"
      "    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n"
      "    PERFORMER \"Guest\"\n"
      "    REM REPLAYGAIN_TRACK_GAIN -3.00 dB\n"
      "    REM GENRE \"not the disc's\"\n"
      "    INDEX 00 00:10:00\n"
      "    INDEX 01 00:12:05\n");
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->title, "Album");
  EXPECT_EQ(sheet->performer, "Band");
  EXPECT_EQ(sheet->songwriter, "Writer");
  EXPECT_EQ(sheet->date, "2001");
  EXPECT_EQ(sheet->genre, "Post Rock");
  EXPECT_EQ(sheet->disc_number, "2");
  EXPECT_EQ(sheet->total_discs, "3");
  EXPECT_EQ(sheet->comment, "ripped");
  EXPECT_EQ(sheet->replaygain_album_gain, "-6.50");
  ASSERT_EQ(sheet->tracks.size(), 2u);
  EXPECT_EQ(sheet->tracks[0].title, "One");
  EXPECT_EQ(sheet->tracks[0].file, "a.wav");
  EXPECT_EQ(sheet->tracks[0].index0, -1);
  EXPECT_EQ(sheet->tracks[1].number, 2);
  EXPECT_EQ(sheet->tracks[1].performer, "Guest");
  EXPECT_EQ(sheet->tracks[1].replaygain_gain, "-3.00");
  EXPECT_EQ(sheet->tracks[1].index0, 750);
  EXPECT_EQ(sheet->tracks[1].index1, 12 * 75 + 5);
}

TEST(ParseSheet, RefusesTextThatIsNoSheet) {
  for (const char* text : {"", "garbage \x01\x02\n", "TITLE \"no tracks\"\n"}) {
    EXPECT_FALSE(parse_sheet(text)) << text;
  }
}
