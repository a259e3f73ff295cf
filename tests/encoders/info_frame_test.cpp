// The pure parts of the CBR information frame; the frame as a whole is held against the
// lame command's in tests/transcode/gapless_test.cpp.
#include "encoders/info_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoders/lame_geometry.h"

namespace {

TEST(InfoFrame, TagCrcIsCrc16WithLamesPolynomial) {
  const std::string check = "123456789";  // the usual check input of CRC catalogues
  EXPECT_EQ(lame_tag_crc(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())),
            0xBB3D);
  EXPECT_EQ(lame_tag_crc({}), 0);
}

TEST(InfoFrame, PaddingFillsTheLastFrame) {
  const struct {
    int frames, samples_per_frame, delay;
    uint64_t samples;
    int padding;
  } cases[] = {
      {116, 1152, 576, 132300, 756},  // three seconds at 44.1 kHz
      {3, 1152, 576, 2880, 0},        // audio that ends exactly on a frame
      {2, 576, 576, 1000, 0},         // more samples than the frames hold: never negative
      {0, 1152, 576, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(end_padding(c.frames, c.samples_per_frame, c.delay, c.samples), c.padding)
        << c.frames << " frames, " << c.samples << " samples";
  }
}

TEST(InfoFrame, ResampledLengthRoundsDown) {
  EXPECT_EQ(output_samples(96480, 96000, 48000), 48240u);
  EXPECT_EQ(output_samples(176401, 88200, 48000), 96000u);
  EXPECT_EQ(output_samples(12345, 44100, 44100), 12345u);
  // Far beyond what a product of length and rate would hold in 64 bits.
  EXPECT_EQ(output_samples(uint64_t{1} << 60, 96000, 48000), uint64_t{1} << 59);
}

TEST(InfoFrame, AFrameThatIsNoInfoFrameGivesNone) {
  std::vector<uint8_t> lame_frame;
  ASSERT_TRUE(lame_info_frame(44100, 2, lame_frame));
  ASSERT_EQ(lame_frame.size(), 417u);
  const InfoFrameStream stream{100, 128, 576, 500, 41795};
  EXPECT_EQ(info_frame(lame_frame, stream).size(), 417u);

  std::vector<uint8_t> xing = lame_frame;
  xing[36] = 'X';  // the tag of a VBR frame
  std::vector<uint8_t> protected_header = lame_frame;
  protected_header[1] &= 0xFE;  // a CRC would move the tag
  const std::vector<std::vector<uint8_t>> refused = {
      {},
      xing,
      protected_header,
      std::vector<uint8_t>(lame_frame.begin(), lame_frame.begin() + 100)};
  for (const auto& frame : refused) EXPECT_TRUE(info_frame(frame, stream).empty());
}

}  // namespace
