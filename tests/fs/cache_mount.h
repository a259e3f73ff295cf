#pragma once

// Mounts for the tests of the cache directory and of shared transcodes. Each olvex process
// logs to a file of its own at DEBUG, so a test counts the encoders that process set up
// ("LAME initialized." once per set-up) and the errors it reported, and never times anything.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"

using Bytes = std::vector<uint8_t>;

// Sanitizer builds encode slowly; no wait in these tests comes near this unless olvex hangs.
constexpr int kReadersTimeoutMs = 180000;

inline std::string text_of(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The whole file as read() returns it, chunk by chunk until the end; errors fail the test.
inline Bytes read_from(int fd, const std::string& what, off_t offset = 0) {
  Bytes bytes;
  std::vector<uint8_t> chunk(64 * 1024);
  ssize_t n;
  while ((n = pread(fd, chunk.data(), chunk.size(), offset)) > 0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    offset += n;
  }
  EXPECT_EQ(n, 0) << what << ": " << std::strerror(errno);
  return bytes;
}

inline Bytes read_whole(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path << ": " << std::strerror(errno);
  if (fd < 0) return {};
  Bytes bytes = read_from(fd, path);
  close(fd);
  return bytes;
}

inline off_t size_of(const std::string& path) {
  struct stat record = {};
  EXPECT_EQ(stat(path.c_str(), &record), 0) << path << ": " << std::strerror(errno);
  return record.st_size;
}

// One olvex process with its own debug log.
class Session {
 public:
  Session(const std::string& source, std::string log_path, std::vector<std::string> options)
      : log_path(std::move(log_path)) {
    options.insert(options.end(), {"--logfile=" + this->log_path, "--log_maxlevel=DEBUG",
                                   "--log_format=%L %M", "-o", "attr_timeout=0,entry_timeout=0"});
    mount = std::make_unique<Mount>(source, options);
  }

  bool live() const { return mount->live(); }
  std::string output() const { return mount->output() + text_of(log_path); }
  std::string operator/(const std::string& name) const { return *mount / name; }

  // Unmounts; a clean exit is part of every test.
  void stop() { EXPECT_EQ(mount->unmount(), 0) << output(); }

  int encodings() const { return count_lines("DEBUG LAME initialized."); }
  int errors() const { return count_lines("ERROR "); }
  std::string log() const { return text_of(log_path); }

  // Ends the process at once, and with it every request still waiting for it.
  void abort() { mount->unmount(); }

 private:
  int count_lines(const std::string& start) const {
    std::istringstream lines(log());
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(start, 0) == 0;
    return count;
  }

  std::string log_path;
  std::unique_ptr<Mount> mount;
};

// Each reader opens its path; once all have opened, each reads its file whole. The opens all
// come before any read, so readers of one file find each other's Transcoder open. When the
// readers do not finish in time, give_up ends the mounts they wait for.
template <typename GiveUp>
std::vector<Bytes> read_at_once(const std::vector<std::string>& paths, GiveUp give_up) {
  const int readers = static_cast<int>(paths.size());
  std::vector<Bytes> results(readers);
  std::latch opened(readers);
  std::mutex mutex;
  std::condition_variable finished;
  int done = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < readers; ++i) {
    threads.emplace_back([&, i] {
      const int fd = open(paths[i].c_str(), O_RDONLY);
      EXPECT_GE(fd, 0) << paths[i] << ": " << std::strerror(errno);
      opened.arrive_and_wait();
      if (fd >= 0) {
        results[i] = read_from(fd, paths[i]);
        close(fd);
      }
      std::lock_guard lock(mutex);
      ++done;
      finished.notify_one();
    });
  }
  {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::milliseconds(kReadersTimeoutMs),
                           [&] { return done == readers; })) {
      ADD_FAILURE() << readers << " readers did not finish";
      lock.unlock();
      give_up();
    }
  }
  for (auto& thread : threads) thread.join();
  return results;
}

// A source tree, a cache directory and a reference: what a mount without --cachedir serves.
class CacheMounts : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_FUSE(); }

  // A FLAC of the given length; the title's length is kept so that songs of equal length
  // give outputs of equal size.
  void add_song(const std::string& name, double seconds, double frequency = 440.0,
                const std::string& title = "Song A") {
    fixtures::AudioSpec spec;
    spec.total_samples = static_cast<uint64_t>(44100 * seconds);
    spec.frequency = frequency;
    ASSERT_TRUE(fixtures::write_flac(source / name, spec, {"TITLE=" + title})) << name;
  }

  std::unique_ptr<Session> start(const std::vector<std::string>& options) {
    return std::make_unique<Session>(
        source.path(), scratch / ("olvex-" + std::to_string(++sessions) + ".log"), options);
  }
  std::vector<std::string> cached(std::vector<std::string> options = {}) const {
    options.push_back("--cachedir=" + cache_dir());
    return options;
  }
  std::string cache_dir() const { return scratch / "cache"; }

  // What a mount without a cache directory serves for name, read in a mount of its own.
  struct Reference {
    off_t size_before_reading = 0;
    Bytes bytes;
  };
  Reference reference(const std::string& name, const std::vector<std::string>& options = {}) {
    Reference result;
    auto session = start(options);
    EXPECT_TRUE(session->live()) << session->output();
    if (!session->live()) return result;
    result.size_before_reading = size_of(*session / name);
    result.bytes = read_whole(*session / name);
    session->stop();
    EXPECT_FALSE(result.bytes.empty()) << name;
    return result;
  }

  // The stored outputs under the cache directory, relative to it.
  std::set<std::string> stored_outputs() const {
    std::set<std::string> files;
    const std::string outputs = cache_dir() + "/outputs";
    DIR* top = opendir(outputs.c_str());
    if (!top) return files;
    while (const dirent* folder = readdir(top)) {
      if (folder->d_name[0] == '.') continue;
      const std::string sub = std::string("outputs/") + folder->d_name;
      if (DIR* inner = opendir((cache_dir() + "/" + sub).c_str())) {
        while (const dirent* file = readdir(inner)) {
          if (file->d_name[0] != '.') files.insert(sub + "/" + file->d_name);
        }
        closedir(inner);
      }
    }
    closedir(top);
    return files;
  }

  // The one output stored by doing something, found by comparing the listings around it.
  template <typename Action>
  std::string output_stored_by(Action action) {
    const auto before = stored_outputs();
    action();
    std::vector<std::string> added;
    for (const auto& file : stored_outputs()) {
      if (!before.count(file)) added.push_back(file);
    }
    EXPECT_EQ(added.size(), 1u);
    return added.empty() ? std::string() : cache_dir() + "/" + added.front();
  }

  fixtures::TempDir source;
  fixtures::TempDir scratch;
  int sessions = 0;
};
