#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cerrno>

#include "fs/handlers.h"
#include "source_tree.h"

namespace {

class Statfs : public SourceTree {};

TEST_F(Statfs, ReportsTheSourceFileSystem) {
  add_flac("song.flac");
  struct statvfs expected = {};
  ASSERT_EQ(statvfs(dir.path().c_str(), &expected), 0);
  for (const char* path : {"/", "/song.flac", "/song.mp3"}) {
    struct statvfs record = {};
    ASSERT_EQ(Handlers::statfs(path, &record), 0) << path;
    EXPECT_EQ(record.f_fsid, expected.f_fsid) << path;
    EXPECT_EQ(record.f_bsize, expected.f_bsize) << path;
    EXPECT_EQ(record.f_blocks, expected.f_blocks) << path;
    EXPECT_EQ(record.f_namemax, expected.f_namemax) << path;
  }
}

TEST_F(Statfs, MissingNameFails) {
  struct statvfs record = {};
  EXPECT_EQ(Handlers::statfs("/missing.mp3", &record), -ENOENT);
}

}  // namespace
