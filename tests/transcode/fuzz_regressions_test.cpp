// Inputs found by fuzzing, each with the fault it showed.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/settings_guard.h"
#include "transcode/buffer.h"
#include "transcode/transcoder.h"

namespace {

std::string regression(const char* name) {
  return (std::filesystem::path(__FILE__).parent_path() / "regressions" / name).string();
}

std::vector<uint8_t> copied(const Buffer& buffer, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> out(size, 0xAA);
  buffer.copy_into(out.data(), static_cast<int64_t>(offset), size);
  return out;
}

// Padding up to a far-away announced size is served, not stored.
TEST(PaddedBuffer, PaddingTowardsAHugeTailIsVirtual) {
  constexpr uint64_t kTail = uint64_t{1} << 40;
  Buffer buffer;
  buffer.append(std::vector<uint8_t>{1, 2, 3, 4}, true);
  buffer.set_tail(std::vector<uint8_t>{7, 8}, kTail);
  buffer.fit_head_to_tail();

  EXPECT_EQ(buffer.head_size(), kTail);
  EXPECT_EQ(buffer.total_size(), kTail + 2);
  EXPECT_TRUE(buffer.has_range(0, 16));
  EXPECT_EQ(copied(buffer, 2, 4), (std::vector<uint8_t>{3, 4, 0, 0}));
  EXPECT_EQ(copied(buffer, kTail / 2, 3), (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(copied(buffer, kTail - 2, 4), (std::vector<uint8_t>{0, 0, 7, 8}));
  EXPECT_EQ(buffer.available_from(kTail - 2), 4u);
}

TEST(PaddedBuffer, OverwriteReachesIntoThePadding) {
  Buffer buffer;
  buffer.append(std::vector<uint8_t>{1, 2}, true);
  buffer.set_tail(std::vector<uint8_t>{9}, 100);
  buffer.fit_head_to_tail();
  buffer.overwrite_at(std::vector<uint8_t>{5, 6, 7}, 1);

  EXPECT_EQ(buffer.head_size(), 100u);
  EXPECT_EQ(copied(buffer, 0, 6), (std::vector<uint8_t>{1, 5, 6, 7, 0, 0}));
  EXPECT_EQ(copied(buffer, 98, 3), (std::vector<uint8_t>{0, 0, 9}));
}

TEST(PaddedBuffer, ExtendingAppendAfterPaddingKeepsTheZeros) {
  Buffer buffer;
  buffer.append(std::vector<uint8_t>{1}, true);
  buffer.set_tail(std::vector<uint8_t>{9}, 4);
  buffer.fit_head_to_tail();
  buffer.append(std::vector<uint8_t>{2}, false);  // complete already: dropped
  EXPECT_EQ(buffer.total_size(), 5u);
  buffer.append(std::vector<uint8_t>{3}, true);
  EXPECT_EQ(buffer.total_size(), 6u);
  EXPECT_EQ(copied(buffer, 0, 5), (std::vector<uint8_t>{1, 0, 0, 0, 3}));
}

// A 509-byte FLAC whose STREAMINFO claims 2^36 samples: the file announced is
// tens of gigabytes. Finishing it used to allocate all of its padding; now the
// short stream is an error, and the tail rendered up front stays readable.
TEST(FuzzRegressions, FlacClaimingHugeLengthFailsWithoutStoringThePadding) {
  SettingsGuard guard;
  settings.vbr = 0;
  settings.statcachesize = 0;
  Transcoder transcoder(regression("flac_huge_total_samples.flac"));
  ASSERT_TRUE(transcoder.initialize());
  const uint64_t total = transcoder.size();
  ASSERT_GT(total, uint64_t{1} << 34);

  std::vector<char> chunk(4096, 'x');
  errno = 0;
  EXPECT_EQ(transcoder.read(chunk.data(), static_cast<int64_t>(total / 2), chunk.size()), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_LT(transcoder.output().head_size(), uint64_t{1} << 20);
  EXPECT_EQ(transcoder.read(chunk.data(), static_cast<int64_t>(total - 128), 128), 128);
  EXPECT_EQ(transcoder.read(chunk.data(), static_cast<int64_t>(total), 128), 0);
}

}  // namespace
