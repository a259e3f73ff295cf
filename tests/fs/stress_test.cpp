// Many readers at random offsets of several transcoded files at once, beside
// threads that list, stat, open and close; every byte is checked against a
// sequential copy of the same file.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"

namespace {

constexpr int reader_threads = 8;
constexpr int reads_per_thread = 120;
constexpr int browse_rounds = 40;
// A bound on wall time besides the iteration counts, so slow sanitizer builds finish too.
constexpr auto time_bound = std::chrono::seconds(6);

const char* const names[] = {"long.mp3", "short.mp3", "vorbis.mp3"};

std::vector<char> read_sequentially(const std::string& path) {
  std::vector<char> bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return bytes;
  char chunk[65536];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + n);
  close(fd);
  return bytes;
}

// Failures from worker threads, reported once on the main thread.
class Problems {
 public:
  void add(const std::string& text) {
    std::lock_guard lock(mutex);
    if (list.size() < 20) list.push_back(text);
    ++count;
  }
  std::string summary() const {
    std::string text = std::to_string(count) + " problem(s)";
    for (const auto& line : list) text += "\n  " + line;
    return text;
  }
  int total() const { return count; }

 private:
  mutable std::mutex mutex;
  std::vector<std::string> list;
  int count = 0;
};

struct Expected {
  std::string path;
  std::vector<char> bytes;
};

// Offsets that land in the ID3v2 head, the middle, across the start of the
// ID3v1 tail, inside it and past the end, with sizes from one byte upwards.
void pick_range(std::mt19937& random, uint64_t total, uint64_t& offset, uint64_t& size) {
  std::uniform_int_distribution<int> region(0, 4);
  std::uniform_int_distribution<uint64_t> small(1, 8192);
  switch (region(random)) {
    case 0:
      offset = std::uniform_int_distribution<uint64_t>(0, 4096)(random);
      break;
    case 1:
      offset = std::uniform_int_distribution<uint64_t>(0, total - 1)(random);
      break;
    case 2:
      offset = total - std::uniform_int_distribution<uint64_t>(129, 6000)(random);
      break;
    case 3:
      offset = total - std::uniform_int_distribution<uint64_t>(1, 128)(random);
      break;
    default:
      offset = total + std::uniform_int_distribution<uint64_t>(0, 100)(random);
      break;
  }
  if (offset > total + 100) offset = 0;
  size = small(random);
}

void check_read(int fd, const Expected& file, uint64_t offset, uint64_t size, Problems& problems) {
  std::vector<char> got(size);
  const ssize_t n = pread(fd, got.data(), size, static_cast<off_t>(offset));
  const uint64_t total = file.bytes.size();
  const uint64_t want = offset >= total ? 0 : std::min<uint64_t>(size, total - offset);
  const std::string where =
      file.path + " at " + std::to_string(offset) + "+" + std::to_string(size);
  if (n < 0) return problems.add(where + ": " + strerror(errno));
  if (static_cast<uint64_t>(n) != want) {
    return problems.add(where + ": " + std::to_string(n) + " bytes, not " + std::to_string(want));
  }
  if (n > 0 && memcmp(got.data(), file.bytes.data() + offset, want) != 0) {
    problems.add(where + ": bytes differ from the sequential copy");
  }
}

class StressThroughTheMount : public ::testing::TestWithParam<std::vector<std::string>> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    fixtures::AudioSpec spec;
    spec.total_samples = 44100 * 8;
    ASSERT_TRUE(fixtures::write_flac(source / "long.flac", spec, {"TITLE=Long", "ARTIST=A"}));
    spec.total_samples = 44100 * 3;
    spec.frequency = 660;
    ASSERT_TRUE(fixtures::write_flac(source / "short.flac", spec, {"TITLE=Short"}));
    spec.total_samples = 44100 * 5;
    ASSERT_TRUE(fixtures::write_vorbis(source / "vorbis.ogg", spec, {"TITLE=Vorbis"}));
    ASSERT_TRUE(fixtures::write_file(source / "notes.txt", {'n', '\n'}));
    mount = std::make_unique<Mount>(source.path(), GetParam());
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
    for (const char* name : names) {
      Expected file{*mount / name, read_sequentially(*mount / name)};
      ASSERT_GT(file.bytes.size(), 1000u) << name;
      files.push_back(std::move(file));
    }
  }

  void TearDown() override {
    if (mount) {
      EXPECT_EQ(mount->unmount(), 0) << mount->output();
    }
  }

  fixtures::TempDir source;
  std::unique_ptr<Mount> mount;
  std::vector<Expected> files;
};

TEST_P(StressThroughTheMount, RandomReadsMatchTheSequentialCopy) {
  Problems problems;
  const auto deadline = std::chrono::steady_clock::now() + time_bound;
  const auto in_time = [&] { return std::chrono::steady_clock::now() < deadline; };

  // One descriptor per file shared by all readers, so reads meet on one Transcoder.
  std::vector<int> shared;
  for (const auto& file : files) {
    shared.push_back(open(file.path.c_str(), O_RDONLY));
    ASSERT_GE(shared.back(), 0) << file.path;
  }

  std::vector<std::thread> threads;
  for (int t = 0; t < reader_threads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(1000 + t);
      // Odd threads also read through descriptors of their own, each a fresh Transcoder.
      std::vector<int> own;
      if (t % 2) {
        for (const auto& file : files) own.push_back(open(file.path.c_str(), O_RDONLY));
      }
      for (int i = 0; i < reads_per_thread && in_time(); ++i) {
        const size_t which = random() % files.size();
        const int fd = own.empty() || own[which] < 0 || random() % 2 ? shared[which] : own[which];
        uint64_t offset, size;
        pick_range(random, files[which].bytes.size(), offset, size);
        check_read(fd, files[which], offset, size, problems);
      }
      for (int fd : own) close(fd);
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < browse_rounds && in_time(); ++round) {
        if (DIR* dir = opendir(mount->point().c_str())) {
          int entries = 0;
          while (readdir(dir)) ++entries;
          closedir(dir);
          if (entries != 6) problems.add("listing has " + std::to_string(entries) + " entries");
        } else {
          problems.add(std::string("opendir: ") + strerror(errno));
        }
        for (const auto& file : files) {
          struct stat record;
          if (stat(file.path.c_str(), &record) != 0) {
            problems.add("stat " + file.path + ": " + strerror(errno));
          } else if (static_cast<uint64_t>(record.st_size) != file.bytes.size()) {
            problems.add("stat " + file.path + ": size " + std::to_string(record.st_size));
          }
          // Open and close without reading: set-up and release under load.
          const int fd = open(file.path.c_str(), O_RDONLY);
          if (fd < 0) problems.add("open " + file.path + ": " + strerror(errno));
          if (fd >= 0 && t == 1) check_read(fd, file, file.bytes.size() - 128, 128, problems);
          if (fd >= 0) close(fd);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int fd : shared) close(fd);
  EXPECT_EQ(problems.total(), 0) << problems.summary();
}

std::string mode_name(const ::testing::TestParamInfo<std::vector<std::string>>& info) {
  static const char* const labels[] = {"Cbr", "CbrDirectIo", "CbrWithStatsCache", "VbrDirectIo"};
  return labels[info.index];
}

// direct_io sends every read to the mirror instead of the kernel's page cache.
INSTANTIATE_TEST_SUITE_P(
    Modes, StressThroughTheMount,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"-o", "direct_io"},
                      std::vector<std::string>{"--statcachesize=100", "-o",
                                               "direct_io,attr_timeout=0,entry_timeout=0"},
                      std::vector<std::string>{"--vbr", "-o", "direct_io"}),
    mode_name);

}  // namespace
