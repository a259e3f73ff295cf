#include "encoders/mp3_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "encoder_harness.h"
#include "support/id3_reader.h"
#include "support/log_capture.h"
#include "support/mp3_decode.h"
#include "support/settings_guard.h"

namespace {

std::vector<std::string> tlen_strings(const Buffer& buffer) {
  auto tag = id3_reader::parse_id3v2(harness::head_bytes(buffer));
  if (!tag) return {"<no tag>"};
  const id3_reader::Frame* frame = tag->find("TLEN");
  if (!frame) return {};
  return id3_reader::parse_text_frame(*frame).value_or(id3_reader::TextFrame{}).strings;
}

TEST(Mp3EncoderSetUp, StartUpsTestEncoderOnlyAnnouncesItself) {
  LogCapture log;
  { Mp3Encoder encoder(nullptr); }
  EXPECT_EQ(log.lines(), std::vector<std::string>{"DEBUG: LAME ready to initialize."});
}

TEST(Mp3EncoderSetUp, WithoutABufferOutputOperationsFailInsteadOfCrashing) {
  Mp3Encoder encoder(nullptr);
  ASSERT_EQ(encoder.begin_stream(44100, 44100, 2), 0);
  const std::vector<int32_t> samples(1152, 0);
  const int32_t* channels[2] = {samples.data(), samples.data()};
  EXPECT_EQ(encoder.emit_tags(0), -1);
  EXPECT_EQ(encoder.encode_samples(channels, 1152, 16), -1);
  EXPECT_EQ(encoder.flush_stream(), -1);
}

TEST(Mp3EncoderSetUp, BeginStreamLogsItsProgressAndAddsTheLengthInMilliseconds) {
  struct Case {
    uint64_t samples;
    int rate;
    std::string text;
  } cases[] = {{441000, 44100, "10000"}, {1, 44100, "0"}, {0, 44100, "0"}, {144047, 48000, "3000"}};
  for (const Case& c : cases) {
    LogCapture log;
    Buffer buffer;
    Mp3Encoder encoder(&buffer);
    ASSERT_EQ(encoder.begin_stream(c.samples, c.rate, 2), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"DEBUG: LAME ready to initialize.",
                                                     "DEBUG: LAME partially initialized.",
                                                     "DEBUG: LAME initialized."}));
    ASSERT_EQ(encoder.emit_tags(0), 0);
    EXPECT_EQ(tlen_strings(buffer), std::vector<std::string>{c.text}) << c.samples;
  }
}

TEST(Mp3EncoderSetUp, UnusableStreamParametersAreRefusedWithoutALengthTag) {
  struct Case {
    int rate, channels;
    std::string message;
  } cases[] = {
      {0, 2, "ERROR: Invalid sample rate 0."},
      {-44100, 2, "ERROR: Invalid sample rate -44100."},
      {44100, 0, "ERROR: Unsupported channel count 0."},
      {44100, 3, "ERROR: Unsupported channel count 3."},
  };
  for (const Case& c : cases) {
    LogCapture log;
    Buffer buffer;
    Mp3Encoder encoder(&buffer);
    EXPECT_EQ(encoder.begin_stream(44100, c.rate, c.channels), -1);
    EXPECT_TRUE(log.contains(c.message)) << log.text();
    // LAME was never initialised: the prediction must not divide by its output rate of 0.
    ASSERT_EQ(encoder.emit_tags(0), 0);
    EXPECT_EQ(buffer.total_size(), buffer.head_size() + 128);
    EXPECT_TRUE(tlen_strings(buffer).empty()) << c.rate << " Hz, " << c.channels << " channels";
  }
}

TEST(Mp3EncoderSetUp, LameRefusingItsParametersFailsTheStream) {
  // LAME refuses a second initialisation, which is the one refusal reachable from here.
  Buffer buffer;
  Mp3Encoder encoder(&buffer);
  ASSERT_EQ(encoder.begin_stream(44100, 44100, 2), 0);
  LogCapture log;
  EXPECT_EQ(encoder.begin_stream(44100, 44100, 2), -1);
  EXPECT_TRUE(log.contains("ERROR: lame_init_params failed.\n")) << log.text();
  ASSERT_EQ(encoder.emit_tags(0), 0);
  EXPECT_EQ(tlen_strings(buffer), std::vector<std::string>{"1000"});
}

// RMS of a decoded channel, skipping the encoder's start-up transient.
double rms(const std::vector<int16_t>& pcm) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 4096; i < pcm.size(); ++i, ++n) sum += static_cast<double>(pcm[i]) * pcm[i];
  return n ? std::sqrt(sum / n) : 0;
}

DecodedMp3 encode_sine(const std::optional<double>& gain) {
  fixtures::AudioSpec spec;
  spec.channels = 1;
  spec.total_samples = 44100;
  spec.amplitude = 0.2;
  Buffer buffer;
  Mp3Encoder encoder(&buffer);
  if (gain) encoder.apply_gain(*gain);
  if (encoder.begin_stream(spec.total_samples, 44100, 1) != 0 || encoder.emit_tags(0) != 0 ||
      !harness::encode_all(encoder, harness::sine_pcm(spec)) || encoder.flush_stream() < 0) {
    return {};
  }
  return decode_mp3(harness::file_bytes(buffer));
}

TEST(Mp3EncoderSetUp, GainIsLoggedAndScalesTheAudio) {
  SettingsGuard guard;
  struct Case {
    double decibels;
    std::string shown;
    double scale;
  } cases[] = {{0, "0", 1.0}, {-6, "-6", 0.501187}, {6.5, "6.5", 2.113489}};
  const DecodedMp3 plain = encode_sine(std::nullopt);
  ASSERT_TRUE(plain.clean());
  const double plain_rms = rms(plain.pcm[0]);
  ASSERT_GT(plain_rms, 1000);

  for (const Case& c : cases) {
    LogCapture log;
    const DecodedMp3 gained = encode_sine(c.decibels);
    ASSERT_TRUE(gained.clean()) << c.decibels;
    EXPECT_TRUE(log.contains("DEBUG: LAME setting gain to " + c.shown + ".\n")) << log.text();
    EXPECT_NEAR(rms(gained.pcm[0]) / plain_rms, c.scale, 0.03 * c.scale) << c.decibels << " dB";
  }
}

struct ModeCase {
  const char* name;
  int vbr, quality, bitrate, gapless;
};

class Mp3EncoderModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(Mp3EncoderModes, BitrateModeAndInformationFrameFollowTheSettings) {
  SettingsGuard guard;
  const ModeCase& mode = GetParam();
  settings.vbr = mode.vbr;
  settings.quality = mode.quality;
  settings.bitrate = mode.bitrate;
  settings.gapless = mode.gapless;
  settings.statcachesize = 1;

  fixtures::AudioSpec spec;
  spec.total_samples = 2 * 44100;
  Buffer buffer;
  Mp3Encoder encoder(&buffer);
  EXPECT_EQ(encoder.wants_whole_file(), mode.vbr != 0);
  ASSERT_EQ(encoder.begin_stream(spec.total_samples, 44100, 2), 0);
  ASSERT_EQ(encoder.emit_tags(0), 0);
  ASSERT_TRUE(harness::encode_all(encoder, harness::sine_pcm(spec)));
  ASSERT_GE(encoder.flush_stream(), 0);

  const std::vector<uint8_t> file = harness::file_bytes(buffer);
  const size_t id3v2_size = mp3_stream_start(file);
  const auto frames = harness::walk_frames(file, id3v2_size, file.size() - 128);
  ASSERT_GT(frames.size(), 70u);
  const bool info = harness::contains(file, id3v2_size, id3v2_size + frames[0].length, "Xing") ||
                    harness::contains(file, id3v2_size, id3v2_size + frames[0].length, "Info");
  // VBR has LAME's own frame whatever the gapless setting; CBR has one only with it.
  EXPECT_EQ(info, mode.vbr != 0 || mode.gapless != 0);
  for (const auto& f : frames) {
    if (mode.vbr && f.offset == id3v2_size) continue;  // LAME picks the information frame's rate
    if (mode.vbr) {
      EXPECT_LE(f.kbps, mode.bitrate) << "frame at " << f.offset;
    } else {
      EXPECT_EQ(f.kbps, mode.bitrate) << "frame at " << f.offset;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, Mp3EncoderModes,
                         ::testing::Values(ModeCase{"Cbr128", 0, 5, 128, 1},
                                           ModeCase{"Cbr192NotGapless", 0, 2, 192, 0},
                                           ModeCase{"Vbr320NotGapless", 1, 2, 320, 0},
                                           ModeCase{"Vbr96", 1, 5, 96, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
