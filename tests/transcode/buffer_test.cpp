#include "transcode/buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "support/log_capture.h"

namespace {

// Bytes start, start+1, ... (mod 256), so that any misplaced copy shows.
std::vector<uint8_t> run(size_t count, uint8_t start) {
  std::vector<uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), start);
  return bytes;
}

std::vector<uint8_t> copied(const Buffer& buffer, int64_t offset, uint64_t size) {
  std::vector<uint8_t> out(size, 0xEE);
  buffer.copy_into(out.data(), offset, size);
  return out;
}

std::string invalid_message(int64_t offset, uint64_t size) {
  return "ERROR: Invalid offset=" + std::to_string(offset) + " size=" + std::to_string(size) +
         " in Buffer::copy_into.\n";
}

TEST(NewBuffer, IsEmptyAndServesOnlyNothing) {
  LogCapture cap;
  Buffer buffer;
  EXPECT_EQ(buffer.total_size(), 0u);
  EXPECT_TRUE(buffer.has_range(0, 0));
  EXPECT_FALSE(buffer.has_range(0, 1));
  EXPECT_EQ(buffer.available_from(0), 0u);
  buffer.copy_into(nullptr, 0, 0);
  EXPECT_EQ(cap.text(), "");
}

// A 100-byte ID3v2 tag in the head and a 128-byte tail at 872: total 1000, gap 100..871.
class TaggedBuffer : public ::testing::Test {
 protected:
  void SetUp() override {
    buffer.append(tag, true);
    buffer.set_tail(tail, 872);
  }
  const std::vector<uint8_t> tag = run(100, 0);
  const std::vector<uint8_t> tail = run(128, 200);
  Buffer buffer;
  LogCapture cap;
};

TEST_F(TaggedBuffer, RangesAroundTheGap) {
  const struct {
    int64_t offset;
    uint64_t size;
    bool has;
  } cases[] = {
      {872, 128, true},
      {0, 100, true},
      {100, 1, false},
      {99, 2, false},
      {0, 0, true},
      {100, 0, true},
      {500, 0, false},
      {872, 0, true},
      {1000, 0, true},
      {990, 20, false},
      {999, 1, true},
      {1000, 1, false},
      {-1, 1, false},
      {-1, 0, false},
      {1001, 0, false},
      {0, 1000, false},
      {1, std::numeric_limits<uint64_t>::max(), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(buffer.has_range(c.offset, c.size), c.has)
        << "offset " << c.offset << " size " << c.size;
  }
  EXPECT_EQ(buffer.total_size(), 1000u);
}

TEST_F(TaggedBuffer, AvailableBytes) {
  const struct {
    int64_t offset;
    uint64_t available;
  } cases[] = {
      {0, 100},
      {50, 50},
      {100, 0},
      {500, 0},
      {871, 0},
      {872, 128},
      {900, 100},
      {1000, 0},
      {1001, 0},
      {-1, 0},
      {std::numeric_limits<int64_t>::min(), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(buffer.available_from(c.offset), c.available) << "offset " << c.offset;
  }
}

TEST_F(TaggedBuffer, CopiesFromHeadAndTail) {
  EXPECT_EQ(copied(buffer, 10, 5), run(5, 10));
  EXPECT_EQ(copied(buffer, 880, 8), run(8, 208));
  EXPECT_EQ(cap.text(), "");
}

TEST_F(TaggedBuffer, InvalidCopiesReportAndLeaveDestinationAlone) {
  const struct {
    int64_t offset;
    uint64_t size;
  } cases[] = {{990, 20}, {-1, 4}, {500, 0}, {95, 10}};
  for (const auto& c : cases) {
    const size_t before = cap.text().size();
    EXPECT_EQ(copied(buffer, c.offset, c.size), std::vector<uint8_t>(c.size, 0xEE));
    EXPECT_EQ(cap.text().substr(before), invalid_message(c.offset, c.size));
  }
}

TEST_F(TaggedBuffer, AppendWithoutExtendStopsAtTheTail) {
  buffer.append(run(1000, 1), false);
  EXPECT_EQ(buffer.head_size(), 872u);
  EXPECT_EQ(buffer.tail_offset(), 872u);
  EXPECT_EQ(buffer.total_size(), 1000u);
  EXPECT_TRUE(buffer.has_range(0, 1000));
}

TEST_F(TaggedBuffer, AppendWithExtendMovesTheTailOut) {
  buffer.append(run(1000, 1), true);
  EXPECT_EQ(buffer.head_size(), 1100u);
  EXPECT_EQ(buffer.tail_offset(), 1100u);
  EXPECT_EQ(buffer.total_size(), 1228u);
  EXPECT_EQ(copied(buffer, 1100, 128), tail);
}

TEST_F(TaggedBuffer, AppendExactlyToTheTailChangesNothingElse) {
  for (bool extend : {false, true}) {
    Buffer b;
    b.append(tag, true);
    b.set_tail(tail, 872);
    b.append(run(772, 0), extend);
    EXPECT_EQ(b.head_size(), 872u) << extend;
    EXPECT_EQ(b.tail_offset(), 872u) << extend;
    EXPECT_EQ(b.total_size(), 1000u) << extend;
  }
}

TEST_F(TaggedBuffer, CompleteHeadServesRangesAcrossIntoTheTail) {
  buffer.append(run(772, 100), false);
  std::vector<uint8_t> expected = run(6, static_cast<uint8_t>(866 % 256));
  expected.insert(expected.end(), tail.begin(), tail.begin() + 4);
  EXPECT_EQ(copied(buffer, 866, 10), expected);
  EXPECT_EQ(buffer.available_from(866), 134u);
  EXPECT_EQ(cap.text(), "");
}

TEST_F(TaggedBuffer, FitHeadToTailPadsWithZeros) {
  buffer.fit_head_to_tail();
  EXPECT_EQ(buffer.head_size(), 872u);
  EXPECT_EQ(buffer.total_size(), 1000u);
  EXPECT_EQ(copied(buffer, 98, 4), (std::vector<uint8_t>{98, 99, 0, 0}));
  EXPECT_EQ(copied(buffer, 870, 4), (std::vector<uint8_t>{0, 0, 200, 201}));
}

TEST_F(TaggedBuffer, FitHeadToTailCutsALongerHead) {
  buffer.set_tail(tail, 40);
  buffer.fit_head_to_tail();
  EXPECT_EQ(buffer.head_size(), 40u);
  EXPECT_EQ(buffer.total_size(), 168u);
  EXPECT_EQ(copied(buffer, 38, 4), (std::vector<uint8_t>{38, 39, 200, 201}));
}

TEST_F(TaggedBuffer, FitTailToHeadGivesTheExactLength) {
  buffer.append(run(300, 7), false);
  buffer.fit_tail_to_head();
  EXPECT_EQ(buffer.tail_offset(), 400u);
  EXPECT_EQ(buffer.total_size(), 528u);
  EXPECT_EQ(copied(buffer, 398, 3), (std::vector<uint8_t>{static_cast<uint8_t>(7 + 298),
                                                          static_cast<uint8_t>(7 + 299), 200}));
}

TEST_F(TaggedBuffer, TailBelowTheHeadServesHeadFirst) {
  buffer.set_tail(tail, 50);
  EXPECT_EQ(buffer.total_size(), 178u);
  EXPECT_TRUE(buffer.has_range(60, 10));
  EXPECT_EQ(copied(buffer, 60, 10), run(10, 60));
  EXPECT_TRUE(buffer.has_range(60, 100));
  EXPECT_EQ(copied(buffer, 60, 4), run(4, 60));
  EXPECT_EQ(copied(buffer, 60, 100), std::vector<uint8_t>(tail.begin() + 10, tail.begin() + 110));
  EXPECT_FALSE(buffer.has_range(40, 100));
}

TEST_F(TaggedBuffer, SetTailWithItsOwnBytesKeepsThem) {
  const Buffer& view = buffer;
  std::vector<uint8_t> current = copied(view, 872, 128);
  buffer.set_tail(current, 900);
  buffer.set_tail(std::span<const uint8_t>(current).subspan(0, 2), 998);
  EXPECT_EQ(copied(buffer, 998, 2), (std::vector<uint8_t>{200, 201}));
}

TEST(OverwriteAt, ReplacesBytesInsideTheHeadOnly) {
  const struct {
    uint64_t offset;
    size_t count;
    std::vector<uint8_t> expected_head;
  } cases[] = {
      {2, 3, {0, 1, 9, 9, 9, 5, 6, 7}},
      {0, 0, {0, 1, 2, 3, 4, 5, 6, 7}},
      {6, 5, {0, 1, 2, 3, 4, 5, 9, 9}},  // clipped at the head's end
      {8, 2, {0, 1, 2, 3, 4, 5, 6, 7}},  // starts at the end: nothing
      {std::numeric_limits<uint64_t>::max(), 2, {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  for (const auto& c : cases) {
    Buffer buffer;
    buffer.append(run(8, 0), true);
    buffer.set_tail(run(4, 100), 20);
    buffer.overwrite_at(std::vector<uint8_t>(c.count, 9), c.offset);
    EXPECT_EQ(buffer.head_size(), 8u) << "offset " << c.offset;
    EXPECT_EQ(buffer.tail_offset(), 20u);
    EXPECT_EQ(buffer.total_size(), 24u);
    EXPECT_EQ(copied(buffer, 0, 8), c.expected_head) << "offset " << c.offset;
    EXPECT_EQ(copied(buffer, 20, 4), run(4, 100));
  }
}

}  // namespace
