#include "encoders/mp3_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ScaleTo32Bits, MovesTheSampleToTheTopBits) {
  struct Case {
    int32_t sample;
    int bits;
    int32_t expected;
  } cases[] = {
      {1, 16, 65536},
      {-1, 16, -65536},
      {32767, 16, 32767 * 65536},
      {-32768, 16, INT32_MIN},
      {1, 24, 256},
      {-8388608, 24, INT32_MIN},
      {1, 8, 1 << 24},
      {-128, 8, INT32_MIN},
      {123456789, 32, 123456789},
      {INT32_MIN, 32, INT32_MIN},
      // Bits above the sample width are shifted out, not carried into the sign.
      {0x10001, 16, 65536},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scale_to_32_bits(c.sample, c.bits), c.expected)
        << c.sample << " at " << c.bits << " bits";
  }
}

TEST(PredictSize, AddsTheStreamLengthToTheTags) {
  struct Case {
    int frames, samples_per_frame, kbps, rate;
    uint64_t id3v2;
    bool vbr;
    uint64_t expected;
  } cases[] = {
      {100, 1152, 128, 44100, 1000, false, 42923},
      {100, 1152, 128, 44100, 1000, true, 45803},
      {0, 1152, 128, 44100, 1000, false, 1128},
      // MPEG-2 frames carry 576 samples: 100 of them at 22.05 kHz are 41795 bytes, not twice that.
      {100, 576, 128, 22050, 1000, false, 42923},
      {100, 576, 64, 16000, 0, false, 28800 + 128},
      // One truncation of the whole product: 1 frame at 48 kHz is 384 bytes exactly, 3 at 44.1
      // kHz are 1253.87 bytes, not 3 x 417.
      {1, 1152, 128, 48000, 0, false, 384 + 128},
      {3, 1152, 128, 44100, 0, false, 1253 + 128},
      // A large library file must not overflow 32 bits: 1 hour at 320 kbit/s.
      {137812, 1152, 320, 44100, 0, false, 143999477 + 128},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(predict_size(c.frames, c.samples_per_frame, c.kbps, c.rate, c.id3v2, c.vbr),
              c.expected)
        << c.frames << " frames " << c.kbps << " kbps " << c.rate << " Hz vbr=" << c.vbr;
  }
}

TEST(PredictSize, UninitialisedOrNegativeFiguresCountNoStream) {
  EXPECT_EQ(predict_size(100, 1152, 128, 0, 500, false), 628u);
  EXPECT_EQ(predict_size(100, 1152, 128, 0, 500, true), 3508u);
  EXPECT_EQ(predict_size(-1, 1152, 128, 44100, 500, false), 628u);
}

TEST(LengthMillis, DropsTheFraction) {
  struct Case {
    uint64_t samples, rate, expected;
  } cases[] = {
      {441000, 44100, 10000},
      {1, 44100, 0},
      {0, 44100, 0},
      {44099, 44100, 999},
      {48000 * 3 + 47, 48000, 3000},
      // Far beyond what total_samples * 1000 could hold in 64 bits.
      {UINT64_MAX / 10, 1, UINT64_MAX / 10 * 1000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(length_millis(c.samples, c.rate), c.expected) << c.samples << " at " << c.rate;
  }
}

TEST(GainScale, IsTenToTheTwentiethOfTheDecibels) {
  EXPECT_FLOAT_EQ(gain_scale(0.0), 1.0f);
  EXPECT_FLOAT_EQ(gain_scale(-6.0), 0.501187f);
  EXPECT_FLOAT_EQ(gain_scale(6.5), 2.1134890f);
  EXPECT_FLOAT_EQ(gain_scale(20.0), 10.0f);
}

}  // namespace
