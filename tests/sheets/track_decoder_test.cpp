#include "sheets/track_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "encoders/tag_kind.h"
#include "support/fixtures.h"
#include "support/recording_encoder.h"

namespace {

constexpr int kRate = 7500;  // 100 samples a CD frame
constexpr uint64_t kTotal = 10000;
constexpr int kChunk = 333;  // chunks that straddle every track boundary

// An image whose sample i is i on the left and -i on the right, with tags of its own; it
// seeks exactly when told it can.
class RampDecoder : public Decoder {
 public:
  explicit RampDecoder(bool seekable) : seekable(seekable) {}
  int open_source(const char*) override { return 0; }
  int64_t source_mtime() override { return 1; }
  int read_tags(Encoder* encoder) override {
    if (encoder->begin_stream(kTotal, kRate, 2) == -1) return -1;
    encoder->add_text_tag(Title, "Whole Disc");
    encoder->add_text_tag(TrackNumber, "1");
    encoder->add_text_tag(Album, "Image Album");
    encoder->add_text_tag(Genre, "Image Genre");
    encoder->apply_gain(-9.0);
    return 0;
  }
  int decode_chunk(Encoder* encoder) override {
    if (next >= kTotal) return 1;
    std::vector<int32_t> left, right;
    for (uint64_t i = next; i < std::min<uint64_t>(next + kChunk, kTotal); ++i) {
      left.push_back(static_cast<int32_t>(i));
      right.push_back(-static_cast<int32_t>(i));
    }
    next += left.size();
    const int32_t* channels[] = {left.data(), right.data()};
    return encoder->encode_samples(channels, static_cast<int>(left.size()), 16);
  }
  int seek_to_sample(uint64_t sample) override {
    if (!seekable) return -1;
    next = sample;
    return 0;
  }

 private:
  bool seekable;
  uint64_t next = 0;
};

// Tracks at frames 0, 30 (pregap from 25) and 70: samples [0,3000), [3000,7000), [7000,10000).
const std::string kSheet =
    "TITLE \"Sheet Album\"\n"
    "REM COMMENT \"Live\"\n"
    "FILE \"disc.flac\" WAVE\n"
    "  TRACK 01 AUDIO\n    TITLE \"A\"\n    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n    TITLE \"B\"\n    INDEX 00 00:00:25\n    INDEX 01 00:00:30\n"
    "  TRACK 03 AUDIO\n    REM REPLAYGAIN_TRACK_GAIN -2.5 dB\n    INDEX 01 00:00:70\n";

std::vector<std::string> text_tags(const RecordingEncoder& encoder) {
  return encoder.calls_named("add_text_tag");
}

}  // namespace

TEST(TrackDecoder, DeliversExactlyItsTracksSamplesWhetherTheImageSeeksOrNot) {
  fixtures::TempDir directory;
  ASSERT_TRUE(fixtures::write_file(directory / "disc.flac", {0}));
  ASSERT_TRUE(fixtures::write_file(directory / "disc.cue", {kSheet.begin(), kSheet.end()}));
  const struct {
    int track;
    bool seekable;
    uint64_t seek;  // the decorator's own seek before decoding; 0 for none
    uint64_t first;
    uint64_t end;
  } cases[] = {
      {1, false, 0, 0, 3000},      {2, false, 0, 3000, 7000},     {3, false, 0, 7000, 10000},
      {2, true, 0, 3000, 7000},    {3, true, 0, 7000, 10000},     {2, false, 1234, 4234, 7000},
      {2, true, 1234, 4234, 7000}, {3, true, 3000, 10000, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "track " << c.track << (c.seekable ? " seekable" : "") << " seek " << c.seek);
    TrackDecoder decoder({directory / "disc.flac", c.track, "disc.cue"},
                         std::make_unique<RampDecoder>(c.seekable));
    ASSERT_EQ(decoder.open_source((directory / "disc.flac").c_str()), 0);
    RecordingEncoder encoder;
    ASSERT_EQ(decoder.read_tags(&encoder), 0);
    const uint64_t length = c.track == 1 ? 3000 : c.track == 2 ? 4000 : 3000;
    EXPECT_EQ(encoder.total_samples, length);
    if (c.seek != 0) {
      ASSERT_EQ(decoder.seek_to_sample(c.seek), 0);
    }
    int status = 0;
    for (int guard = 0; guard < 100 && status == 0; ++guard)
      status = decoder.decode_chunk(&encoder);
    ASSERT_EQ(status, 1);
    ASSERT_EQ(encoder.pcm.size(), 2u);
    ASSERT_EQ(encoder.pcm[0].size(), c.end - c.first);
    for (uint64_t i = 0; i < c.end - c.first; ++i) {
      ASSERT_EQ(encoder.pcm[0][i], static_cast<int32_t>(c.first + i)) << i;
      ASSERT_EQ(encoder.pcm[1][i], -static_cast<int32_t>(c.first + i)) << i;
    }
  }
}

TEST(TrackDecoder, SheetTagsReplaceTheImagesTitleNumberingAndGain) {
  fixtures::TempDir directory;
  ASSERT_TRUE(fixtures::write_file(directory / "disc.flac", {0}));
  ASSERT_TRUE(fixtures::write_file(directory / "disc.cue", {kSheet.begin(), kSheet.end()}));
  const struct {
    int track;
    std::vector<std::string> tags;
    std::vector<double> gains;  // the image's -9 dB stays only where the sheet gives none
  } cases[] = {
      {1,
       {"add_text_tag 3 Image Genre", "add_text_tag 0 A", "add_text_tag 2 Sheet Album",
        "add_text_tag 12 1", "add_text_tag 13 3", "add_text_tag 18 Live"},
       {-9.0}},
      {3,
       {"add_text_tag 3 Image Genre", "add_text_tag 0 Track 03", "add_text_tag 2 Sheet Album",
        "add_text_tag 12 3", "add_text_tag 13 3", "add_text_tag 18 Live"},
       {-2.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.track);
    TrackDecoder decoder({directory / "disc.flac", c.track, "disc.cue"},
                         std::make_unique<RampDecoder>(false));
    ASSERT_EQ(decoder.open_source((directory / "disc.flac").c_str()), 0);
    RecordingEncoder encoder;
    ASSERT_EQ(decoder.read_tags(&encoder), 0);
    EXPECT_EQ(text_tags(encoder), c.tags);
    EXPECT_EQ(encoder.gains, c.gains);
  }
}

TEST(TrackDecoder, RefusesATrackItsSheetNoLongerGives) {
  fixtures::TempDir directory;
  ASSERT_TRUE(fixtures::write_file(directory / "disc.flac", {0}));
  ASSERT_TRUE(fixtures::write_file(directory / "disc.cue", {kSheet.begin(), kSheet.end()}));
  const struct {
    int track;
    std::string sheet_name;
  } cases[] = {{4, "disc.cue"}, {1, "other.cue"}, {1, ""}};
  for (const auto& c : cases) {
    TrackDecoder decoder({directory / "disc.flac", c.track, c.sheet_name},
                         std::make_unique<RampDecoder>(false));
    EXPECT_EQ(decoder.open_source((directory / "disc.flac").c_str()), -1) << c.track;
  }
}
