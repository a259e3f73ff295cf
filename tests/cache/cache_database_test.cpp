#include "cache/cache_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cache/source_identity.h"
#include "cache/tmpfs_mount.h"
#include "support/fixtures.h"
#include "support/log_capture.h"

namespace {

const SourceIdentity kId{1, 2, 3, 4, 5, 6, 7};
const std::string kPrint = "fingerprint-a";

std::unique_ptr<CacheDatabase> open_or_fail(const std::string& dir) {
  std::string error;
  auto db = CacheDatabase::open(dir, error);
  EXPECT_TRUE(db) << error;
  return db;
}

std::string index_of(const std::string& dir) {
  return dir + "/index.sqlite";
}

std::vector<std::string> set_aside_files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename();
    if (name.starts_with("index.sqlite.damaged-")) names.push_back(name);
  }
  return names;
}

// Runs SQL on a database file with a connection of the test's own.
void run_sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

TEST(CacheDatabase, SizeRoundTripThroughFlushAndReopen) {
  fixtures::TempDir dir;
  {
    auto db = open_or_fail(dir.path());
    ASSERT_TRUE(db);
    uint64_t size = 0;
    EXPECT_FALSE(db->find_size("/music/a.flac", kId, kPrint, size));
    db->store_size("/music/a.flac", kId, kPrint, 123456789012);
    ASSERT_TRUE(db->find_size("/music/a.flac", kId, kPrint, size));
    EXPECT_EQ(size, 123456789012u);
    db->flush();
    size = 0;
    ASSERT_TRUE(db->find_size("/music/a.flac", kId, kPrint, size));
    EXPECT_EQ(size, 123456789012u);
  }
  auto db = open_or_fail(dir.path());
  uint64_t size = 0;
  ASSERT_TRUE(db->find_size("/music/a.flac", kId, kPrint, size));
  EXPECT_EQ(size, 123456789012u);
}

// Any field of the key that differs misses, both from the pending list and from the
// committed rows; the values test the full 64-bit range of each column.
TEST(CacheDatabase, AnyChangeOfTheKeyMisses) {
  struct Case {
    const char* name;
    std::function<void(SourceIdentity&, std::string&, std::string&)> change;
  };
  const Case cases[] = {
      {"device", [](SourceIdentity& id, auto&, auto&) { id.device = ~uint64_t{0}; }},
      {"inode", [](SourceIdentity& id, auto&, auto&) { id.inode += 1; }},
      {"size", [](SourceIdentity& id, auto&, auto&) { id.size += 1; }},
      {"mtime_sec", [](SourceIdentity& id, auto&, auto&) { id.mtime_sec += 1; }},
      {"mtime_nsec", [](SourceIdentity& id, auto&, auto&) { id.mtime_nsec += 1; }},
      {"ctime_sec", [](SourceIdentity& id, auto&, auto&) { id.ctime_sec += 1; }},
      {"ctime_nsec", [](SourceIdentity& id, auto&, auto&) { id.ctime_nsec += 1; }},
      {"fingerprint", [](SourceIdentity&, std::string&, std::string& f) { f += "x"; }},
      {"path", [](SourceIdentity&, std::string& p, std::string&) { p += "x"; }},
  };
  for (bool committed : {false, true}) {
    fixtures::TempDir dir;
    auto db = open_or_fail(dir.path());
    ASSERT_TRUE(db);
    const SourceIdentity big{
        ~uint64_t{0} - 1, ~uint64_t{0} - 2, INT64_MAX - 1, -5, 999999999, INT64_MIN + 1, 0};
    db->store_size("/a.flac", big, kPrint, 42);
    if (committed) db->flush();
    for (const Case& c : cases) {
      SourceIdentity id = big;
      std::string path = "/a.flac", print = kPrint;
      c.change(id, path, print);
      uint64_t size = 0;
      EXPECT_FALSE(db->find_size(path, id, print, size)) << c.name << " committed " << committed;
    }
    uint64_t size = 0;
    EXPECT_TRUE(db->find_size("/a.flac", big, kPrint, size)) << "committed " << committed;
  }
}

TEST(CacheDatabase, ANewIdentityReplacesTheOldOne) {
  fixtures::TempDir dir;
  auto db = open_or_fail(dir.path());
  SourceIdentity newer = kId;
  newer.mtime_sec += 10;
  db->store_size("/a.flac", kId, kPrint, 1);
  db->flush();
  db->store_size("/a.flac", newer, kPrint, 2);
  db->flush();
  uint64_t size = 0;
  EXPECT_FALSE(db->find_size("/a.flac", kId, kPrint, size));
  ASSERT_TRUE(db->find_size("/a.flac", newer, kPrint, size));
  EXPECT_EQ(size, 2u);
  // Different fingerprints of one path are kept side by side.
  db->store_size("/a.flac", newer, "other", 3);
  db->flush();
  ASSERT_TRUE(db->find_size("/a.flac", newer, kPrint, size));
  EXPECT_EQ(size, 2u);
}

// Another connection sees a store only once its batch is committed: by flush, by the
// destructor, by the batch filling up, or by the batch's age at the next store.
// One query answers for a listing: the directory's own entries, stored or still pending,
// under this fingerprint; nothing of a sibling whose name begins alike, nor of a folder below.
TEST(CacheDatabase, SizesOfOneDirectoryInOneQuery) {
  fixtures::TempDir dir;
  auto db = open_or_fail(dir.path());
  ASSERT_TRUE(db);
  const struct {
    std::string path;
    std::string fingerprint;
    uint64_t size;
    bool expected;
  } rows[] = {
      {"/m/a/one.flac", kPrint, 1, true},
      {"/m/a/two.flac\ncover:/m/a/cover.jpg:1:2", kPrint, 2, true},
      {"/m/a/three.flac", "fingerprint-b", 3, false},
      {"/m/a/deeper/four.flac", kPrint, 4, false},
      {"/m/a/deeper/five.flac\ncover:none:1", kPrint, 5, false},
      {"/m/ab/six.flac", kPrint, 6, false},
      {"/m/a.flac", kPrint, 7, false},
  };
  const auto expect_found = [&](const char* when) {
    const auto known = db->sizes_in("/m/a", kPrint);
    size_t expected = 0;
    for (const auto& row : rows) {
      const auto it = known.find(row.path);
      EXPECT_EQ(it != known.end(), row.expected) << when << ": " << row.path;
      if (!row.expected || it == known.end()) continue;
      ++expected;
      EXPECT_EQ(it->second.size, row.size) << when << ": " << row.path;
      EXPECT_EQ(it->second.id, kId) << when << ": " << row.path;
    }
    EXPECT_EQ(known.size(), expected) << when;
  };
  for (const auto& row : rows) db->store_size(row.path, kId, row.fingerprint, row.size);
  expect_found("pending");
  db->flush();
  expect_found("stored");
}

TEST(CacheDatabase, StoresAreBatched) {
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<CacheDatabase>&)> commit;
  };
  const Case cases[] = {
      {"flush", [](auto& db) { db->flush(); }},
      {"destruction", [](auto& db) { db.reset(); }},
      {"full batch",
       [](auto& db) {
         for (size_t i = 1; i < CacheDatabase::kBatchEntries; ++i) {
           db->store_size("/filler" + std::to_string(i), kId, kPrint, i);
         }
       }},
      {"age",
       [](auto& db) {
         std::this_thread::sleep_for(CacheDatabase::kBatchAge + std::chrono::milliseconds(100));
         db->store_size("/later.flac", kId, kPrint, 1);
       }},
  };
  for (const Case& c : cases) {
    fixtures::TempDir dir;
    auto writer = open_or_fail(dir.path());
    auto reader = open_or_fail(dir.path());
    ASSERT_TRUE(writer && reader);
    writer->store_size("/a.flac", kId, kPrint, 77);
    uint64_t size = 0;
    EXPECT_FALSE(reader->find_size("/a.flac", kId, kPrint, size)) << c.name;
    c.commit(writer);
    ASSERT_TRUE(reader->find_size("/a.flac", kId, kPrint, size)) << c.name;
    EXPECT_EQ(size, 77u) << c.name;
  }
}

TEST(CacheDatabase, TwoConnectionsOnOneDirectoryBothReadAndWrite) {
  fixtures::TempDir dir;
  auto first = open_or_fail(dir.path());
  auto second = open_or_fail(dir.path());
  ASSERT_TRUE(first && second);
  // Writers on both connections at once: each waits for the other's lock.
  auto write = [](CacheDatabase& db, const std::string& prefix) {
    for (int i = 0; i < 2000; ++i) {
      db.store_size(prefix + std::to_string(i), kId, kPrint, i);
      if (i % 100 == 99) db.flush();
    }
    db.flush();
  };
  std::thread a(write, std::ref(*first), "/first/");
  std::thread b(write, std::ref(*second), "/second/");
  a.join();
  b.join();
  for (int i = 0; i < 2000; i += 97) {
    uint64_t size = 0;
    ASSERT_TRUE(first->find_size("/second/" + std::to_string(i), kId, kPrint, size)) << i;
    EXPECT_EQ(size, static_cast<uint64_t>(i));
    ASSERT_TRUE(second->find_size("/first/" + std::to_string(i), kId, kPrint, size)) << i;
    EXPECT_EQ(size, static_cast<uint64_t>(i));
  }
}

TEST(CacheDatabase, ManyThreadsShareOneConnection) {
  fixtures::TempDir dir;
  auto db = open_or_fail(dir.path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&db, t] {
      for (int i = 0; i < 300; ++i) {
        std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
        db->store_size(path, kId, kPrint, i);
        uint64_t size = 0;
        EXPECT_TRUE(db->find_size(path, kId, kPrint, size));
        EXPECT_EQ(size, static_cast<uint64_t>(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  db->flush();
  uint64_t size = 0;
  EXPECT_TRUE(db->find_size("/t3/299", kId, kPrint, size));
}

// Writes a real index with some rows, then damages it as the case says.
struct Damage {
  const char* name;
  std::function<void(const std::string& index)> apply;
};

void write_some_rows(const std::string& dir) {
  auto db = open_or_fail(dir);
  for (int i = 0; i < 400; ++i)
    db->store_size("/" + std::string(200, 'p') + std::to_string(i), kId, kPrint, i);
}

TEST(CacheDatabase, DamagedOrForeignIndexIsSetAsideAndRebuilt) {
  const Damage damages[] = {
      {"garbage bytes",
       [](const std::string& index) {
         fixtures::write_file(index, std::vector<uint8_t>(10000, 0x5a));
       }},
      {"truncated",
       [](const std::string& index) {
         ASSERT_EQ(truncate(index.c_str(), std::filesystem::file_size(index) / 3), 0);
       }},
      {"header overwritten",
       [](const std::string& index) {
         auto bytes = fixtures::read_file(index);
         for (size_t i = 0; i < 100; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
         fixtures::write_file(index, bytes);
       }},
      {"foreign SQLite file",
       [](const std::string& index) {
         unlink(index.c_str());
         run_sql(index, "CREATE TABLE songs(title TEXT); INSERT INTO songs VALUES ('x');");
       }},
      {"wrong application id",
       [](const std::string& index) { run_sql(index, "PRAGMA application_id = 42"); }},
      {"wrong user_version",
       [](const std::string& index) { run_sql(index, "PRAGMA user_version = 99"); }},
      {"extra table", [](const std::string& index) { run_sql(index, "CREATE TABLE extra(x)"); }},
      {"changed table",
       [](const std::string& index) {
         run_sql(index, "DROP TABLE sizes; CREATE TABLE sizes(path TEXT, fingerprint INTEGER)");
       }},
  };
  for (const Damage& damage : damages) {
    fixtures::TempDir dir;
    write_some_rows(dir.path());
    damage.apply(index_of(dir.path()));

    LogCapture log(Logging::ERROR);
    auto db = open_or_fail(dir.path());
    ASSERT_TRUE(db) << damage.name;
    EXPECT_TRUE(log.contains("ERROR: Cache index " + index_of(dir.path())))
        << damage.name << log.text();
    EXPECT_EQ(set_aside_files(dir.path()).size(), 1u) << damage.name;
    uint64_t size = 0;
    EXPECT_FALSE(db->find_size("/" + std::string(200, 'p') + "1", kId, kPrint, size))
        << damage.name;
    db->store_size("/b.flac", kId, kPrint, 5);
    db.reset();
    db = open_or_fail(dir.path());
    ASSERT_TRUE(db->find_size("/b.flac", kId, kPrint, size)) << damage.name;
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(set_aside_files(dir.path()).size(), 1u) << damage.name << ": rebuilt index kept";
  }
}

// The file overwritten under a running process. SQLite may go on answering from its own
// page cache and journal, or notice and have the index rebuilt; either way every answer
// is right and the process goes on storing and finding.
TEST(CacheDatabase, IndexOverwrittenWhileOpenNeverGivesAWrongAnswer) {
  fixtures::TempDir dir;
  auto db = open_or_fail(dir.path());
  for (int i = 0; i < 300; ++i) db->store_size("/" + std::to_string(i), kId, kPrint, i + 1000);
  db->flush();
  LogCapture log(Logging::ERROR);
  const std::string index = index_of(dir.path());
  fixtures::write_file(index, std::vector<uint8_t>(std::filesystem::file_size(index), 0xa5));
  unlink((index + "-wal").c_str());
  for (int i = 0; i < 300; ++i) {
    uint64_t size = 0;
    if (db->find_size("/" + std::to_string(i), kId, kPrint, size)) {
      EXPECT_EQ(size, i + 1000u);
    }
    db->store_size("/new" + std::to_string(i), kId, kPrint, i);
  }
  db->flush();
  db->store_size("/after", kId, kPrint, 9);
  db->flush();
  uint64_t size = 0;
  ASSERT_TRUE(db->find_size("/after", kId, kPrint, size));
  EXPECT_EQ(size, 9u);
}

TEST(CacheDatabase, MissingDirectoryIsCreated) {
  fixtures::TempDir dir;
  const std::string nested = dir / "a/b/cache";
  auto db = open_or_fail(nested);
  ASSERT_TRUE(db);
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(stat(index_of(nested).c_str(), &st), 0);
}

TEST(CacheDatabase, UnusableDirectoryIsRefusedWithOneLineNamingIt) {
  fixtures::TempDir dir;
  ASSERT_TRUE(fixtures::write_file(dir / "file", {1, 2, 3}));
  for (const std::string& target : {dir / "file", dir / "file/cache", std::string()}) {
    std::string error;
    EXPECT_FALSE(CacheDatabase::open(target, error)) << target;
    EXPECT_NE(error.find("Cache directory is not usable: " + target + " ("), std::string::npos)
        << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  EXPECT_EQ(fixtures::read_file(dir / "file"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(CacheDatabase, ReadOnlyDirectoryIsRefused) {
  fixtures::TempDir dir;
  ASSERT_EQ(mkdir((dir / "ro").c_str(), 0755), 0);
  // Root ignores mode bits; a read-only mount stops root too.
  TmpfsMount mount(dir / "ro", "size=64k", MS_RDONLY);
  SKIP_WITHOUT_TMPFS(mount);
  for (const std::string& target : {dir / "ro", dir / "ro/cache"}) {
    std::string error;
    EXPECT_FALSE(CacheDatabase::open(target, error)) << target;
    EXPECT_NE(error.find("Cache directory is not usable: " + target + " ("), std::string::npos)
        << error;
  }
}

}  // namespace
