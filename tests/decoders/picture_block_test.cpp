#include "decoders/picture_block.h"

#include <gtest/gtest.h>

#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/recording_encoder.h"

namespace {

const char kMalformed[] = "Couldn't decode picture data as valid data.";
const char kBadBase64[] =
    "Failed to decode METADATA_BLOCK_PICTURE; invalid base64 or could not allocate memory.";

fixtures::Picture jpeg_cover() {
  fixtures::Picture picture;
  picture.mime_type = "image/jpeg";
  picture.type = 3;
  picture.description = "Front";
  picture.data = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0xff, 0xd9};
  return picture;
}

// Offsets of the three length fields in the block of jpeg_cover().
constexpr size_t kMimeLength = 4;
constexpr size_t kDescriptionLength = 8 + 10;
constexpr size_t kDataLength = 12 + 10 + 5 + 16;

void put_be32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

PictureBlock parsed(std::vector<uint8_t> raw, bool& ok) {
  PictureBlock block;
  block.raw = std::move(raw);
  ok = parse_picture_block(block);
  return block;
}

TEST(ParsePictureBlock, ReadsEveryField) {
  bool ok;
  PictureBlock block = parsed(fixtures::picture_block(jpeg_cover()), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(block.picture_type, 3u);
  EXPECT_EQ(block.mime_type, "image/jpeg");
  EXPECT_EQ(block.description, "Front");
  EXPECT_EQ(block.data, jpeg_cover().data);
}

TEST(ParsePictureBlock, IgnoresSpareBytesAfterTheData) {
  std::vector<uint8_t> raw = fixtures::picture_block(jpeg_cover());
  raw.insert(raw.end(), {1, 2, 3});
  bool ok;
  PictureBlock block = parsed(raw, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(block.data, jpeg_cover().data);
}

TEST(ParsePictureBlock, AcceptsEmptyMimeTypeDescriptionAndData) {
  fixtures::Picture empty;
  empty.mime_type = "";
  bool ok;
  PictureBlock block = parsed(fixtures::picture_block(empty), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(block.mime_type, "");
  EXPECT_EQ(block.description, "");
  EXPECT_TRUE(block.data.empty());
}

struct DamageCase {
  const char* name;
  size_t field;    // offset of a length field to change, or SIZE_MAX for none
  uint32_t value;  // new length
  size_t keep;     // bytes kept from the start, or SIZE_MAX for all
};

TEST(ParsePictureBlock, RejectsAnyLengthThatReachesPastTheEnd) {
  const size_t whole = fixtures::picture_block(jpeg_cover()).size();
  const DamageCase cases[] = {
      {"empty block", SIZE_MAX, 0, 0},
      {"type cut", SIZE_MAX, 0, 3},
      {"mime length cut", SIZE_MAX, 0, 7},
      {"mime one too long", kMimeLength, 11, SIZE_MAX},
      {"description one too long", kDescriptionLength, 6, SIZE_MAX - 0},
      {"data one too long", kDataLength, 9, SIZE_MAX},
      {"data cut by one", SIZE_MAX, 0, whole - 1},
      {"skipped fields cut", SIZE_MAX, 0, kDataLength - 1},
      {"data length cut", SIZE_MAX, 0, kDataLength + 3},
      // Lengths that would wrap a 32-bit cursor.
      {"mime length huge", kMimeLength, 0xFFFFFFFFu, SIZE_MAX},
      {"description length huge", kDescriptionLength, 0xFFFFFFFCu, SIZE_MAX},
      {"data length huge", kDataLength, 0xFFFFFFF0u, SIZE_MAX},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> raw = fixtures::picture_block(jpeg_cover());
    if (c.field != SIZE_MAX) put_be32(raw, c.field, c.value);
    if (c.keep != SIZE_MAX) raw.resize(c.keep);
    LogCapture log;
    bool ok;
    parsed(raw, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.contains(std::string("ERROR: ") + kMalformed)) << log.text();
  }
}

TEST(AddEmbeddedPicture, PassesTheDecodedPictureToTheEncoder) {
  RecordingEncoder encoder;
  add_embedded_picture(fixtures::base64(fixtures::picture_block(jpeg_cover())), &encoder);
  ASSERT_EQ(encoder.pictures.size(), 1u);
  EXPECT_EQ(encoder.calls, std::vector<std::string>{"add_picture image/jpeg 3 Front 8"});
  EXPECT_EQ(encoder.pictures[0].data, jpeg_cover().data);
}

TEST(AddEmbeddedPicture, EmptyMimeAndDescriptionArriveAsEmptyTexts) {
  fixtures::Picture empty;
  empty.mime_type = "";
  empty.type = 0;
  empty.data = {7};
  RecordingEncoder encoder;
  add_embedded_picture(fixtures::base64(fixtures::picture_block(empty)), &encoder);
  EXPECT_EQ(encoder.calls, std::vector<std::string>{"add_picture  0  1"});
}

// Both kinds of damage are logged at ERROR and cost only the picture.
TEST(AddEmbeddedPicture, DamagedValuesAreLoggedAndSkipped) {
  const std::string good = fixtures::base64(fixtures::picture_block(jpeg_cover()));
  const struct {
    std::string value;
    const char* message;
  } cases[] = {
      {std::string(), kMalformed},
      {fixtures::base64({0, 0, 0, 3, 0, 0}), kMalformed},
      {good.substr(0, good.size() - 1), kBadBase64},
      {"@@@@", kBadBase64},
      {good + "\n", kBadBase64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    LogCapture log;
    RecordingEncoder encoder;
    add_embedded_picture(c.value, &encoder);
    EXPECT_TRUE(encoder.calls.empty());
    EXPECT_TRUE(log.contains(std::string("ERROR: ") + c.message)) << log.text();
  }
}

}  // namespace
