#include "cache/attr_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "support/settings_guard.h"

namespace {

SourceIdentity identity(uint64_t inode) {
  SourceIdentity id;
  id.device = 1;
  id.inode = inode;
  id.size = 1000;
  id.mtime_sec = 1700000000;
  id.mtime_nsec = 5;
  id.ctime_sec = 1700000000;
  id.ctime_nsec = 7;
  return id;
}

class AttrCacheTest : public ::testing::Test {
 protected:
  AttrCacheTest() { settings.attrcachesize = 3; }
  SettingsGuard guard;
  AttrCache cache;
};

TEST_F(AttrCacheTest, AnswersOnlyWhileEveryPartOfTheIdentityIsUnchanged) {
  const struct {
    const char* what;
    void (*change)(SourceIdentity&);
  } changes[] = {
      {"device", [](SourceIdentity& i) { ++i.device; }},
      {"inode", [](SourceIdentity& i) { ++i.inode; }},
      {"size", [](SourceIdentity& i) { ++i.size; }},
      {"mtime", [](SourceIdentity& i) { ++i.mtime_sec; }},
      {"mtime ns", [](SourceIdentity& i) { ++i.mtime_nsec; }},
      {"ctime", [](SourceIdentity& i) { ++i.ctime_sec; }},
      {"ctime ns", [](SourceIdentity& i) { ++i.ctime_nsec; }},
  };
  for (const auto& c : changes) {
    cache.put("/m/a.flac", identity(1), 4242);
    uint64_t size = 0;
    ASSERT_TRUE(cache.find("/m/a.flac", identity(1), size)) << c.what;
    EXPECT_EQ(size, 4242u);
    SourceIdentity changed = identity(1);
    c.change(changed);
    EXPECT_FALSE(cache.find("/m/a.flac", changed, size)) << c.what;
    // A stale entry is gone, not kept for the old identity to come back.
    EXPECT_FALSE(cache.find("/m/a.flac", identity(1), size)) << c.what;
  }
  uint64_t size = 0;
  EXPECT_FALSE(cache.find("/m/b.flac", identity(1), size));
}

TEST_F(AttrCacheTest, LeastRecentlyUsedGoFirstAndALaterSizeReplaces) {
  cache.put("/a", identity(1), 1);
  cache.put("/b", identity(2), 2);
  cache.put("/c", identity(3), 3);
  uint64_t size = 0;
  ASSERT_TRUE(cache.find("/a", identity(1), size));  // /b is now the oldest
  cache.put("/d", identity(4), 4);
  EXPECT_EQ(cache.entries(), 3u);
  EXPECT_FALSE(cache.find("/b", identity(2), size));
  for (auto [path, inode] : {std::pair{"/a", 1}, {"/c", 3}, {"/d", 4}}) {
    EXPECT_TRUE(cache.find(path, identity(inode), size)) << path;
  }
  cache.put("/a", identity(1), 111);  // the exact size learned at the end of a read
  ASSERT_TRUE(cache.find("/a", identity(1), size));
  EXPECT_EQ(size, 111u);
}

TEST_F(AttrCacheTest, ZeroEntriesKeepsNothing) {
  settings.attrcachesize = 0;
  cache.put("/a", identity(1), 1);
  uint64_t size = 0;
  EXPECT_FALSE(cache.find("/a", identity(1), size));
  EXPECT_EQ(cache.entries(), 0u);
}

}  // namespace
