#include "decoders/ffmpeg_pictures.h"

#include "decoders/image_type.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ImageMimeType, ComesFromTheImageBytes) {
  const struct {
    std::vector<uint8_t> bytes;
    const char* mime_type;
  } cases[] = {
      {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0}, "image/png"},
      {{0xff, 0xd8, 0xff, 0xe0}, "image/jpeg"},
      {{'G', 'I', 'F', '8', '9', 'a'}, "image/gif"},
      {{'B', 'M', 0, 0}, "image/bmp"},
      {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'E', 'B', 'P'}, "image/webp"},
      {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'E', 'B'}, ""},  // cut inside the signature
      {{0x89, 'P', 'N'}, ""},
      {{0xff, 0xd8}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(image_mime_type(c.bytes.data(), c.bytes.size()), c.mime_type) << c.mime_type;
  }
}

// An AVDictionary with one owner for the test.
struct Metadata {
  ~Metadata() { av_dict_free(&entries); }
  AVDictionary* entries = nullptr;
};

TEST(AttachedPictureType, ComesFromTheNamesFfmpegGivesOrIsTheFrontCover) {
  const struct {
    const char* key;
    const char* value;
    int type;
  } cases[] = {
      {"comment", "Cover (front)", 3},
      {"comment", "Cover (back)", 4},
      {"comment", "Other", 0},
      {"comment", "Publisher/Studio logotype", 20},
      {"Cover Art (Back)", "back.jpg", 4},
      {"Cover Art (Front)", "front.png", 3},
      {"comment", "a remark", 3},
      {"title", "Band photo", 3},
      {nullptr, nullptr, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key ? std::string(c.key) + "=" + c.value : "no metadata");
    Metadata metadata;
    if (c.key) av_dict_set(&metadata.entries, c.key, c.value, 0);
    EXPECT_EQ(attached_picture_type(metadata.entries), c.type);
  }
}

}  // namespace
