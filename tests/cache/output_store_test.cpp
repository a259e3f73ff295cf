#include "cache/output_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_database.h"
#include "cache/tmpfs_mount.h"
#include "support/fixtures.h"
#include "support/log_capture.h"

namespace {

const std::string kPrint = "fingerprint";

SourceIdentity identity(uint64_t inode) {
  return {7, inode, 1000, 1700000000, 5, 1700000000, 6};
}

std::vector<uint8_t> content(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  return bytes;
}

// Fills from an in-memory output, as the caller's Buffer would.
OutputStore::Fill from(const std::vector<uint8_t>& bytes) {
  return [&bytes](uint8_t* dst, uint64_t offset, size_t n) {
    if (offset + n > bytes.size()) return false;
    std::memcpy(dst, bytes.data() + offset, n);
    return true;
  };
}

std::vector<uint8_t> read_all(int fd, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  uint64_t done = 0;
  while (done < size) {
    ssize_t got = pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
    if (got <= 0) break;
    done += static_cast<uint64_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

std::vector<std::string> files_under(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) names.push_back(entry.path().string());
  }
  return names;
}

// A cache directory with its index and a store; reopen() stands for a new process.
class StoreFixture {
 public:
  explicit StoreFixture(uint64_t capacity = uint64_t{1} << 30) : capacity(capacity) { reopen(); }

  void reopen() {
    store.reset();
    database.reset();
    std::string error;
    database = CacheDatabase::open(dir.path(), error);
    EXPECT_TRUE(database) << error;
    store = std::make_unique<OutputStore>(*database, dir.path(), capacity);
  }

  bool put(const std::string& path, uint64_t inode, const std::vector<uint8_t>& bytes) {
    return static_cast<bool>(
        store->store(path, identity(inode), kPrint, bytes.size(), from(bytes)));
  }

  // The stored bytes, or nullopt-like empty + false on a miss.
  bool get(const std::string& path, uint64_t inode, std::vector<uint8_t>& bytes) {
    uint64_t size = 0;
    UniqueFd fd = store->open_output(path, identity(inode), kPrint, size);
    if (!fd) return false;
    bytes = read_all(fd.get(), size);
    return bytes.size() == size;
  }

  std::string file_of(const std::string& path, uint64_t inode) const {
    return dir / OutputStore::file_name(path, identity(inode), kPrint);
  }

  fixtures::TempDir dir;
  uint64_t capacity;
  std::unique_ptr<CacheDatabase> database;
  std::unique_ptr<OutputStore> store;
};

TEST(OutputStore, StoredBytesComeBackInThisAndTheNextProcess) {
  const size_t sizes[] = {0,
                          1,
                          4095,
                          OutputStore::kChunkSize - 1,
                          OutputStore::kChunkSize + 1,
                          3 * OutputStore::kChunkSize};
  StoreFixture cache;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    ASSERT_TRUE(cache.put("/s" + std::to_string(i), i, content(sizes[i], i))) << sizes[i];
  }
  for (bool new_process : {false, true}) {
    if (new_process) cache.reopen();
    for (size_t i = 0; i < std::size(sizes); ++i) {
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(cache.get("/s" + std::to_string(i), i, bytes)) << sizes[i];
      EXPECT_EQ(bytes, content(sizes[i], i)) << sizes[i] << " new process " << new_process;
    }
  }
  EXPECT_TRUE(files_under(cache.dir / "tmp").empty());
}

// The writer reads its own output back through the descriptor the store gives, whatever
// happens to the file's name afterwards.
TEST(OutputStore, StoreGivesADescriptorOfTheBytesItWrote) {
  StoreFixture cache;
  const std::vector<uint8_t> bytes = content(3 * OutputStore::kChunkSize + 5, 7);
  UniqueFd written = cache.store->store("/w", identity(7), kPrint, bytes.size(), from(bytes));
  ASSERT_TRUE(written);
  for (const std::string& file : files_under(cache.dir / "outputs")) unlink(file.c_str());
  EXPECT_EQ(read_all(written.get(), bytes.size() + 1), bytes);
}

TEST(OutputStore, MissesForAnotherIdentityOrFingerprint) {
  StoreFixture cache;
  ASSERT_TRUE(cache.put("/a", 1, content(1000, 1)));
  uint64_t size = 0;
  EXPECT_FALSE(cache.store->open_output("/a", identity(1), "other", size));
  EXPECT_FALSE(cache.store->open_output("/b", identity(1), kPrint, size));
  // The source changed: the old output can never serve again and is dropped.
  EXPECT_FALSE(cache.store->open_output("/a", identity(2), kPrint, size));
  EXPECT_FALSE(std::filesystem::exists(cache.file_of("/a", 1)));
  EXPECT_EQ(cache.database->total_output_bytes(), 0u);
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(cache.get("/a", 1, bytes));
}

TEST(OutputStore, ANewIdentityReplacesTheOldOutput) {
  StoreFixture cache;
  ASSERT_TRUE(cache.put("/a", 1, content(1000, 1)));
  ASSERT_TRUE(cache.put("/a", 2, content(3000, 2)));
  EXPECT_FALSE(std::filesystem::exists(cache.file_of("/a", 1)));
  EXPECT_EQ(cache.database->total_output_bytes(), 3000u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(cache.get("/a", 2, bytes));
  EXPECT_EQ(bytes, content(3000, 2));
  // Storing the same key again, as a second process might, is harmless.
  ASSERT_TRUE(cache.put("/a", 2, content(3000, 2)));
  ASSERT_TRUE(cache.get("/a", 2, bytes));
  EXPECT_EQ(bytes, content(3000, 2));
  EXPECT_EQ(cache.database->total_output_bytes(), 3000u);
}

// A stored file damaged behind the store's back is a miss: logged, its record and file
// gone, and a fresh store of the same output works again.
TEST(OutputStore, DamagedFileIsDroppedAndStoredAfresh) {
  struct Case {
    const char* name;
    std::function<void(StoreFixture&, const std::string& file)> damage;
  };
  const Case cases[] = {
      {"truncated",
       [](StoreFixture&, const std::string& file) { ASSERT_EQ(truncate(file.c_str(), 5000), 0); }},
      {"grown",
       [](StoreFixture&, const std::string& file) {
         auto bytes = fixtures::read_file(file);
         bytes.push_back(0);
         fixtures::write_file(file, bytes);
       }},
      {"bit flipped",
       [](StoreFixture&, const std::string& file) {
         auto bytes = fixtures::read_file(file);
         bytes[bytes.size() / 2] ^= 0x10;
         fixtures::write_file(file, bytes);
       }},
      {"deleted", [](StoreFixture&, const std::string& file) { unlink(file.c_str()); }},
      {"swapped with another entry's file",
       [](StoreFixture& cache, const std::string& file) {
         ASSERT_EQ(rename(cache.file_of("/other", 9).c_str(), file.c_str()), 0);
       }},
  };
  // Bytes the same size as the victim's, so only the checksum can tell them apart.
  const auto victim = content(20000, 1);
  const auto other = content(20000, 2);
  for (bool new_process : {true, false}) {
    for (const Case& c : cases) {
      StoreFixture cache;
      ASSERT_TRUE(cache.put("/a", 1, victim));
      ASSERT_TRUE(cache.put("/other", 9, other));
      std::vector<uint8_t> bytes;
      // Used once, so that the same process has checked it before it was damaged.
      ASSERT_TRUE(cache.get("/a", 1, bytes));
      const std::string file = cache.file_of("/a", 1);
      c.damage(cache, file);
      if (new_process) cache.reopen();

      LogCapture log(Logging::ERROR);
      EXPECT_FALSE(cache.get("/a", 1, bytes)) << c.name << " new process " << new_process;
      EXPECT_TRUE(log.contains("ERROR: Stored output " + file)) << c.name << log.text();
      EXPECT_FALSE(std::filesystem::exists(file)) << c.name;
      EXPECT_FALSE(cache.get("/a", 1, bytes)) << c.name << ": record kept";

      ASSERT_TRUE(cache.put("/a", 1, victim)) << c.name;
      ASSERT_TRUE(cache.get("/a", 1, bytes)) << c.name;
      EXPECT_EQ(bytes, victim) << c.name;
    }
  }
}

TEST(OutputStore, EvictionKeepsTheMostRecentlyUsed) {
  StoreFixture cache(30000);
  const auto a = content(10000, 1), b = content(10000, 2), c = content(10000, 3),
             d = content(10000, 4);
  ASSERT_TRUE(cache.put("/a", 1, a));
  ASSERT_TRUE(cache.put("/b", 2, b));
  ASSERT_TRUE(cache.put("/c", 3, c));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(cache.get("/a", 1, bytes));  // a is now used more recently than b
  ASSERT_TRUE(cache.put("/d", 4, d));

  EXPECT_FALSE(cache.get("/b", 2, bytes));
  EXPECT_FALSE(std::filesystem::exists(cache.file_of("/b", 2)));
  EXPECT_EQ(cache.database->total_output_bytes(), 30000u);
  // The order of use survives a restart: it was committed with the eviction's batch.
  cache.reopen();
  for (auto [path, inode, expected] :
       {std::tuple{"/a", 1, &a}, std::tuple{"/c", 3, &c}, std::tuple{"/d", 4, &d}}) {
    ASSERT_TRUE(cache.get(path, inode, bytes)) << path;
    EXPECT_EQ(bytes, *expected) << path;
  }
  // A bigger output evicts as many as it needs, oldest use first: c, then d.
  ASSERT_TRUE(cache.get("/a", 1, bytes));
  ASSERT_TRUE(cache.put("/e", 5, content(20000, 5)));
  EXPECT_TRUE(cache.get("/a", 1, bytes));
  EXPECT_FALSE(cache.get("/c", 3, bytes));
  EXPECT_FALSE(cache.get("/d", 4, bytes));
  EXPECT_LE(cache.database->total_output_bytes(), 30000u);
}

TEST(OutputStore, OutputLargerThanTheCapacityIsNotKept) {
  StoreFixture cache(30000);
  ASSERT_TRUE(cache.put("/small", 1, content(10000, 1)));
  EXPECT_FALSE(cache.put("/big", 2, content(30001, 2)));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(cache.get("/big", 2, bytes));
  EXPECT_TRUE(cache.get("/small", 1, bytes)) << "nothing evicted for an output not kept";
  EXPECT_EQ(files_under(cache.dir / "outputs").size(), 1u);
  EXPECT_TRUE(files_under(cache.dir / "tmp").empty());
  // Exactly the capacity fits, alone.
  EXPECT_TRUE(cache.put("/exact", 3, content(30000, 3)));
  EXPECT_EQ(cache.database->total_output_bytes(), 30000u);
}

TEST(OutputStore, EvictedOutputStillReadsThroughAnOpenDescriptor) {
  StoreFixture cache(3 * OutputStore::kChunkSize);
  const auto first = content(2 * OutputStore::kChunkSize + 17, 1);
  ASSERT_TRUE(cache.put("/first", 1, first));
  uint64_t size = 0;
  UniqueFd reader = cache.store->open_output("/first", identity(1), kPrint, size);
  ASSERT_TRUE(reader);
  // Read part of it, then let another output push it out.
  std::vector<uint8_t> head(1000);
  ASSERT_EQ(pread(reader.get(), head.data(), head.size(), 0), 1000);
  ASSERT_TRUE(cache.put("/second", 2, content(2 * OutputStore::kChunkSize, 2)));
  ASSERT_FALSE(std::filesystem::exists(cache.file_of("/first", 1)));
  EXPECT_EQ(read_all(reader.get(), size), first);
}

TEST(OutputStore, WriteFailureKeepsNothing) {
  struct Case {
    const char* name;
    size_t size;
    bool fill_fails;
  };
  const Case cases[] = {
      {"file system full", 200000, false},
      {"output cannot be read back", 1000, true},
  };
  for (const Case& c : cases) {
    // The index lives elsewhere, so that only the output itself runs out of room.
    StoreFixture cache;
    fixtures::TempDir small;
    TmpfsMount mount(small.path(), "size=64k");
    SKIP_WITHOUT_TMPFS(mount);
    OutputStore store(*cache.database, small.path(), uint64_t{1} << 30);
    const auto bytes = content(c.size, 1);
    auto fill = c.fill_fails ? OutputStore::Fill([](uint8_t*, uint64_t, size_t) { return false; })
                             : from(bytes);

    LogCapture log(Logging::ERROR);
    EXPECT_FALSE(store.store("/a", identity(1), kPrint, bytes.size(), fill)) << c.name;
    EXPECT_TRUE(log.contains("ERROR: Could not store the output of /a in " + small.path()))
        << c.name << log.text();
    EXPECT_TRUE(files_under(small.path()).empty()) << c.name;
    EXPECT_EQ(cache.database->total_output_bytes(), 0u) << c.name;
    uint64_t size = 0;
    EXPECT_FALSE(store.open_output("/a", identity(1), kPrint, size)) << c.name;
    // It recovers once there is room.
    EXPECT_TRUE(store.store("/b", identity(2), kPrint, 1000, from(content(1000, 2)))) << c.name;
  }
}

// Two processes on one directory: each serves what the other stored, and one's
// eviction never takes a file the other recorded for a key it still holds.
TEST(OutputStore, TwoProcessesShareOneDirectory) {
  StoreFixture first(30000);
  std::string error;
  auto database = CacheDatabase::open(first.dir.path(), error);
  ASSERT_TRUE(database) << error;
  OutputStore second(*database, first.dir.path(), 30000);

  const auto a = content(10000, 1), b = content(10000, 2);
  ASSERT_TRUE(first.put("/a", 1, a));
  ASSERT_TRUE(second.store("/b", identity(2), kPrint, b.size(), from(b)));
  ASSERT_TRUE(second.store("/a", identity(1), kPrint, a.size(), from(a)));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(first.get("/b", 2, bytes));
  EXPECT_EQ(bytes, b);
  uint64_t size = 0;
  UniqueFd fd = second.open_output("/a", identity(1), kPrint, size);
  ASSERT_TRUE(fd);
  EXPECT_EQ(read_all(fd.get(), size), a);

  // The first process fills the cache; the second's most recent outputs survive.
  ASSERT_TRUE(second.open_output("/b", identity(2), kPrint, size));
  database->flush();
  ASSERT_TRUE(first.put("/c", 3, content(10000, 3)));
  ASSERT_TRUE(first.put("/d", 4, content(10000, 4)));
  EXPECT_LE(first.database->total_output_bytes(), 30000u);
  EXPECT_TRUE(first.get("/b", 2, bytes));
  EXPECT_EQ(bytes, b);
}

TEST(OutputStore, ConcurrentStoresAndOpensServeTheirOwnBytes) {
  StoreFixture cache(200000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 20; ++i) {
        const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i % 5);
        const uint64_t inode = static_cast<uint64_t>(t * 100 + i % 5);
        const auto bytes = content(30000 + i % 5, static_cast<uint32_t>(inode));
        uint64_t size = 0;
        UniqueFd fd = cache.store->open_output(path, identity(inode), kPrint, size);
        if (fd) {
          EXPECT_EQ(read_all(fd.get(), size), bytes) << path;
        } else {
          cache.store->store(path, identity(inode), kPrint, bytes.size(), from(bytes));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(cache.database->total_output_bytes(), 200000u);
}

TEST(OutputStore, TemporaryFilesOfEndedProcessesAreRemoved) {
  StoreFixture cache;
  // Process ids never reach 2^31, so the first writer cannot be running.
  const std::string gone = cache.dir / "tmp/2147483647-5-0.part";
  const std::string running = cache.dir / ("tmp/" + std::to_string(getpid()) + "-5-0.part");
  const std::string stranger = cache.dir / "tmp/notes.txt";
  for (const std::string& path : {gone, running, stranger}) {
    ASSERT_TRUE(fixtures::write_file(path, {1}));
  }
  cache.reopen();
  EXPECT_FALSE(std::filesystem::exists(gone));
  EXPECT_TRUE(std::filesystem::exists(running));
  EXPECT_TRUE(std::filesystem::exists(stranger));
}

TEST(OutputStore, FileNamesDifferPerKey) {
  const std::string base = OutputStore::file_name("/a", identity(1), kPrint);
  EXPECT_EQ(OutputStore::file_name("/a", identity(1), kPrint), base);
  SourceIdentity later = identity(1);
  later.ctime_nsec += 1;
  for (const std::string& other : {OutputStore::file_name("/b", identity(1), kPrint),
                                   OutputStore::file_name("/a", identity(2), kPrint),
                                   OutputStore::file_name("/a", later, kPrint),
                                   OutputStore::file_name("/a", identity(1), kPrint + "x")}) {
    EXPECT_NE(other, base);
  }
  EXPECT_TRUE(base.starts_with("outputs/")) << base;
}

}  // namespace
