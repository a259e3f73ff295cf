#include "transcode/read_tags_with_covers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/decoder.h"
#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/recording_encoder.h"
#include "support/settings_guard.h"

namespace {

const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 0xFF, 0xD9};

TEST(ParseCoverMode, AcceptsTheThreeModesExactly) {
  EXPECT_EQ(parse_cover_mode("embedded"), CoverMode::Embedded);
  EXPECT_EQ(parse_cover_mode("folder"), CoverMode::Folder);
  EXPECT_EQ(parse_cover_mode("none"), CoverMode::None);
  for (const char* text : {"", "Folder", "none ", "covers", "emb"}) {
    EXPECT_FALSE(parse_cover_mode(text).has_value()) << text;
  }
  EXPECT_FALSE(parse_cover_mode(nullptr).has_value());
}

struct CoverCase {
  const char* name;
  const char* mode;
  bool flac;
  bool embedded;         // the source carries a picture of its own
  bool cover_file;       // a cover.jpg lies beside it
  const char* expected;  // "embedded", "folder" or "" for no picture
};

class ReadTagsWithCovers : public ::testing::TestWithParam<CoverCase> {
 protected:
  SettingsGuard guard;
  fixtures::TempDir dir;
};

TEST_P(ReadTagsWithCovers, AppliesTheCoversSetting) {
  const CoverCase& c = GetParam();
  settings.covers = c.mode;
  fixtures::AudioSpec spec;
  spec.total_samples = 4410;
  fixtures::Picture own;
  own.data = fixtures::solid_png(4, 4, 0xabcdef);
  own.type = 4;  // a back cover: any embedded picture wins, not only a front one
  fixtures::Comments comments = {"TITLE=Covered"};
  const std::string path = dir / (c.flac ? "song.flac" : "song.ogg");
  if (c.flac) {
    ASSERT_TRUE(fixtures::write_flac(
        path, spec, comments, c.embedded ? std::vector{own} : std::vector<fixtures::Picture>{}));
  } else {
    if (c.embedded) {
      comments.push_back("METADATA_BLOCK_PICTURE=" +
                         fixtures::base64(fixtures::picture_block(own)));
    }
    ASSERT_TRUE(fixtures::write_vorbis(path, spec, comments));
  }
  if (c.cover_file) {
    ASSERT_TRUE(fixtures::write_file(dir / "cover.jpg", kJpeg));
  }

  std::string extension = c.flac ? "flac" : "ogg";
  auto decoder = make_decoder(extension);
  ASSERT_NE(decoder, nullptr);
  ASSERT_EQ(decoder->open_source(path.c_str()), 0);
  RecordingEncoder encoder;
  ASSERT_EQ(read_tags_with_covers(*decoder, encoder, path), 0);

  // Everything else reaches the encoder untouched.
  EXPECT_EQ(encoder.sample_rate, 44100);
  EXPECT_EQ(encoder.calls_named("add_text_tag").size(), 1u);
  const std::string expected = c.expected;
  if (expected.empty()) {
    EXPECT_TRUE(encoder.pictures.empty());
    return;
  }
  ASSERT_EQ(encoder.pictures.size(), 1u);
  const RecordingEncoder::PictureCall& picture = encoder.pictures[0];
  if (expected == "embedded") {
    EXPECT_EQ(picture.picture_type, 4);
    EXPECT_EQ(picture.mime_type, "image/png");
    EXPECT_EQ(picture.data, own.data);
  } else {
    EXPECT_EQ(picture.picture_type, 3);
    EXPECT_EQ(picture.mime_type, "image/jpeg");
    EXPECT_EQ(picture.description, "");
    EXPECT_EQ(picture.data, kJpeg);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReadTagsWithCovers,
    ::testing::Values(CoverCase{"EmbeddedKeepsOwn", "embedded", true, true, true, "embedded"},
                      CoverCase{"EmbeddedIgnoresFolder", "embedded", true, false, true, ""},
                      CoverCase{"FolderOwnWins", "folder", true, true, true, "embedded"},
                      CoverCase{"FolderFillsIn", "folder", true, false, true, "folder"},
                      CoverCase{"FolderFillsInOgg", "folder", false, false, true, "folder"},
                      CoverCase{"FolderOwnWinsOgg", "folder", false, true, true, "embedded"},
                      CoverCase{"FolderWithoutFile", "folder", true, false, false, ""},
                      CoverCase{"NoneDropsFlac", "none", true, true, true, ""},
                      CoverCase{"NoneDropsOgg", "none", false, true, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadTagsWithCoversFailures, AnUnusableCoverFileIsLoggedAndLeftOut) {
  SettingsGuard guard;
  settings.covers = "folder";
  fixtures::TempDir dir;
  fixtures::AudioSpec spec;
  spec.total_samples = 4410;
  ASSERT_TRUE(fixtures::write_flac(dir / "song.flac", spec));
  ASSERT_TRUE(fixtures::write_file(dir / "Cover.jpg", {'n', 'o', 't'}));
  std::string extension = "flac";
  auto decoder = make_decoder(extension);
  ASSERT_EQ(decoder->open_source((dir / "song.flac").c_str()), 0);
  RecordingEncoder encoder;
  LogCapture log(Logging::ERROR);
  EXPECT_EQ(read_tags_with_covers(*decoder, encoder, dir / "song.flac"), 0);
  EXPECT_TRUE(encoder.pictures.empty());
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"ERROR: Cannot use cover file " + dir / "Cover.jpg" +
                                     ": not a JPEG or PNG image."});
}

TEST(ReadTagsWithCoversFailures, AFailedReadTagsFailsAndAddsNoCover) {
  SettingsGuard guard;
  settings.covers = "folder";
  fixtures::TempDir dir;
  ASSERT_TRUE(fixtures::write_file(dir / "song.flac", {'f', 'L', 'a', 'C', 0, 1}));
  ASSERT_TRUE(fixtures::write_file(dir / "cover.jpg", kJpeg));
  std::string extension = "flac";
  auto decoder = make_decoder(extension);
  RecordingEncoder encoder;
  LogCapture log(Logging::ERROR);
  // The header opens; the stream information behind it is missing.
  ASSERT_EQ(decoder->open_source((dir / "song.flac").c_str()), 0);
  EXPECT_EQ(read_tags_with_covers(*decoder, encoder, dir / "song.flac"), -1);
  EXPECT_TRUE(encoder.pictures.empty());
}

}  // namespace
