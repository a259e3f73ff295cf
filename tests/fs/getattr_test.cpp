#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "app/settings.h"
#include "fs/handlers.h"
#include "source_tree.h"
#include "transcode/transcoder.h"

namespace {

class Getattr : public SourceTree {
 protected:
  struct stat source_stat(const std::string& name) const {
    struct stat record = {};
    EXPECT_EQ(lstat(source(name).c_str(), &record), 0) << name;
    return record;
  }
  struct stat mirror_stat(const char* path, int expected_result = 0) const {
    struct stat record = {};
    EXPECT_EQ(Handlers::getattr(path, &record), expected_result) << path;
    return record;
  }
};

void expect_same_entry(const struct stat& a, const struct stat& b) {
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_mode, b.st_mode);
  EXPECT_EQ(a.st_size, b.st_size);
}

TEST_F(Getattr, NamesThatExistInTheSourceArePassedThrough) {
  add_flac("song.flac");
  add_file("song.mp3", "a real mp3");
  add_dir("sub");
  add_link("link.flac", "song.flac");
  for (const char* name : {"song.flac", "song.mp3", "sub", "link.flac"}) {
    expect_same_entry(mirror_stat(("/" + std::string(name)).c_str()), source_stat(name));
  }
  expect_same_entry(mirror_stat("/"), source_stat(""));
}

TEST_F(Getattr, TranscodedNameHasTheSourceAttributesAndTheOutputSize) {
  add_flac("song.flac");
  const struct stat flac = source_stat("song.flac");
  const struct stat mp3 = mirror_stat("/song.mp3");

  Transcoder transcoder(source("song.flac"));
  ASSERT_TRUE(transcoder.initialize());
  const auto announced = static_cast<off_t>(transcoder.size());
  EXPECT_GT(announced, 0);
  EXPECT_EQ(mp3.st_size, announced);
  EXPECT_EQ(mp3.st_blocks, (announced + 511) / 512);
  EXPECT_NE(mp3.st_size, flac.st_size);
  EXPECT_EQ(mp3.st_ino, flac.st_ino);
  EXPECT_EQ(mp3.st_mode, flac.st_mode);
  EXPECT_EQ(mp3.st_uid, flac.st_uid);
  EXPECT_EQ(mp3.st_nlink, flac.st_nlink);
  EXPECT_EQ(mp3.st_mtim.tv_sec, flac.st_mtim.tv_sec);
  EXPECT_EQ(mp3.st_blksize, flac.st_blksize);
}

TEST_F(Getattr, ReportsTheExactSizeOnceAFileWasReadToItsEnd) {
  settings.statcachesize = 10;
  add_flac("song.flac");
  Transcoder transcoder(source("song.flac"));
  ASSERT_TRUE(transcoder.initialize());
  std::vector<char> all(transcoder.size() * 2 + 65536);
  int64_t total = 0;
  for (int64_t n; (n = transcoder.read(all.data() + total, total, 4096)) > 0;) total += n;
  ASSERT_GT(total, 0);

  const struct stat mp3 = mirror_stat("/song.mp3");
  EXPECT_EQ(mp3.st_size, total);
  EXPECT_EQ(mp3.st_blocks, (total + 511) / 512);
}

TEST_F(Getattr, DirectoryFoundForATranscodedNameKeepsItsAttributes) {
  add_dir("album.flac");
  expect_same_entry(mirror_stat("/album.mp3"), source_stat("album.flac"));
}

TEST_F(Getattr, Failures) {
  add_damaged_flac("broken.flac");
  add_file("notflac.txt");
  const struct {
    const char* path;
    int result;
  } cases[] = {
      {"/broken.mp3", -EIO},
      {"/missing.mp3", -ENOENT},
      {"/missing/song.mp3", -ENOENT},
      {"/notflac.mp3", -ENOENT},
  };
  for (const auto& c : cases) mirror_stat(c.path, c.result);
}

}  // namespace
