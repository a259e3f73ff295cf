#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "fs/handlers.h"
#include "source_tree.h"

namespace {

class Readlink : public SourceTree {
 protected:
  std::string target_of(const char* path, size_t size = 4096, int expected_result = 0) const {
    std::string buffer(size + 8, '#');  // guard bytes past the given size
    EXPECT_EQ(Handlers::readlink(path, buffer.data(), size), expected_result) << path;
    EXPECT_EQ(buffer.substr(size), std::string(8, '#')) << "wrote past the buffer";
    if (expected_result != 0) return "";
    EXPECT_NE(std::memchr(buffer.data(), '\0', size), nullptr);
    return buffer.c_str();
  }
};

TEST_F(Readlink, ConvertsDecodableTargets) {
  add_flac("01.flac");
  add_link("link.flac", "01.flac");
  add_link("up.flac", "../album/02.ogg");
  add_link("cover.png", "art/front.png");
  add_link("plain", "somewhere");
  const struct {
    const char* path;
    const char* target;
  } cases[] = {
      {"/link.mp3", "01.mp3"},         {"/link.flac", "01.mp3"}, {"/up.mp3", "../album/02.mp3"},
      {"/cover.png", "art/front.png"}, {"/plain", "somewhere"},
  };
  for (const auto& c : cases) EXPECT_EQ(target_of(c.path), c.target) << c.path;
}

TEST_F(Readlink, Failures) {
  add_flac("x.flac");
  add_file("file.txt");
  const struct {
    const char* path;
    int result;
  } cases[] = {
      {"/x.mp3", -EINVAL},  // the name resolves to the regular file x.flac
      {"/file.txt", -EINVAL},
      {"/missing", -ENOENT},
  };
  for (const auto& c : cases) target_of(c.path, 4096, c.result);
}

TEST_F(Readlink, StaysWithinTheBuffer) {
  add_link("long", "abcdefghij");
  add_link("song.ogg", "abcdefgh.flac");
  // A link of the shown name wins over the source that would show as it, as in getattr.
  add_flac("take.flac");
  add_link("take.mp3", "elsewhere");
  const struct {
    const char* path;
    size_t size;
    const char* target;
  } cases[] = {
      {"/long", 12, "abcdefghij"},  // size - 2 bytes are enough
      {"/long", 11, "abcdefghi"},
      {"/long", 3, "a"},
      {"/song.mp3", 64, "abcdefgh.mp3"},
      {"/song.mp3", 15, "abcdefgh.mp3"},
      {"/take.mp3", 64, "elsewhere"},
      // A target cut before conversion is converted as cut.
      {"/song.mp3", 12, "abcdefgh.f"},
  };
  for (const auto& c : cases) EXPECT_EQ(target_of(c.path, c.size), c.target) << c.size;
}

TEST_F(Readlink, ConvertedTargetIsCutToTheBuffer) {
  settings.desttype = "longer";
  add_link("a", "a.ogg");
  EXPECT_EQ(target_of("/a", 7), "a.long");
  EXPECT_EQ(target_of("/a", 64), "a.longer");
}

TEST_F(Readlink, RefusesBuffersTooSmallForATarget) {
  add_link("long", "abcdefghij");
  for (size_t size : {0, 1}) target_of("/long", size, -EINVAL);
}

}  // namespace
