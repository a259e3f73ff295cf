#include <gtest/gtest.h>

#include "encoders/encoder.h"
#include "encoders/mp3_encoder.h"

namespace {

TEST(MakeEncoder, AnswersOnlyForExactlyMp3) {
  auto encoder = make_encoder("mp3", nullptr);
  ASSERT_NE(encoder, nullptr);
  EXPECT_NE(dynamic_cast<Mp3Encoder*>(encoder.get()), nullptr);

  for (const char* other : {"MP3", "mp3 ", " mp3", "mp", "ogg", ""}) {
    EXPECT_EQ(make_encoder(other, nullptr), nullptr) << '"' << other << '"';
  }
  EXPECT_EQ(make_encoder(std::string("mp3\0x", 5), nullptr), nullptr);
}

}  // namespace
