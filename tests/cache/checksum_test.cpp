#include "cache/checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 12345;
  for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  return bytes;
}

uint64_t whole(const std::vector<uint8_t>& bytes) {
  Checksum checksum;
  checksum.update(bytes.data(), bytes.size());
  return checksum.value();
}

TEST(Checksum, SameValueWhateverThePieces) {
  const auto bytes = pattern(1000);
  const uint64_t expected = whole(bytes);
  for (size_t piece : {1, 3, 7, 8, 9, 64, 333, 999}) {
    Checksum checksum;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      checksum.update(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    EXPECT_EQ(checksum.value(), expected) << "pieces of " << piece;
  }
}

TEST(Checksum, EverySingleBitFlipChangesIt) {
  auto bytes = pattern(77);
  const uint64_t original = whole(bytes);
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      bytes[i] ^= static_cast<uint8_t>(1 << bit);
      EXPECT_NE(whole(bytes), original) << "byte " << i << " bit " << bit;
      bytes[i] ^= static_cast<uint8_t>(1 << bit);
    }
  }
}

// Trailing zeros and swapped words are what a truncated or shuffled file looks like.
TEST(Checksum, LengthAndOrderCount) {
  std::vector<uint8_t> bytes(16, 0);
  auto longer = bytes;
  longer.push_back(0);
  EXPECT_NE(whole(bytes), whole(longer));
  EXPECT_NE(whole({}), whole({0}));

  auto words = pattern(16);
  auto swapped = words;
  std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
  EXPECT_NE(whole(words), whole(swapped));
}

}  // namespace
