// Sizes worked out ahead of a walk, through the mount: a listing starts the work, and every
// stat that follows answers exactly what a mount without any size cache answers, whatever
// changes in between.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache_mount.h"

namespace {

constexpr int kSongs = 8;
const std::string kAlbum = "album";

struct Stat {
  int error = 0;
  off_t size = 0;
  bool operator==(const Stat&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stat& s) {
  return out << (s.error ? "errno " + std::to_string(s.error) : std::to_string(s.size) + " bytes");
}

Stat stat_of(const std::string& path) {
  struct stat record = {};
  if (stat(path.c_str(), &record) != 0) return {errno, 0};
  return {0, record.st_size};
}

std::set<std::string> list(const std::string& directory) {
  std::set<std::string> names;
  DIR* dir = opendir(directory.c_str());
  EXPECT_NE(dir, nullptr) << directory << ": " << std::strerror(errno);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.insert(entry->d_name);
  }
  closedir(dir);
  return names;
}

int count_lines(const std::string& log, const std::string& start) {
  std::istringstream lines(log);
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind(start, 0) == 0;
  return count;
}

// The read-ahead runs on its own; this waits until its log shows count sizes worked out, or
// gives up after the readers' timeout (and the test fails).
bool wait_for_read_ahead(const Session& session, int count) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadersTimeoutMs);
  while (count_lines(session.log(), "DEBUG Size read ahead: ") < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class ReadAheadMount : public CacheMounts {
 protected:
  void SetUp() override {
    CacheMounts::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(mkdir((source / kAlbum).c_str(), 0755), 0);
    // Lengths and titles differ, so that a size answered for the wrong file shows.
    for (int i = 0; i < kSongs; ++i) add_song(song(i), 0.2 + 0.15 * i, 440.0, title(i));
    reference_mount = start({"--attrcachesize=0"});
    ASSERT_TRUE(reference_mount->live()) << reference_mount->output();
  }
  void TearDown() override {
    if (reference_mount) reference_mount->stop();
  }

  static std::string song(int i) { return kAlbum + "/song" + std::to_string(i) + ".flac"; }
  static std::string title(int i) { return "Title " + std::string(i + 1, 'x'); }

  // Every name the reference shows in the album, and those given, stat'ed in both mounts.
  void expect_reference_sizes(const Session& session, const std::string& what,
                              std::set<std::string> names = {}) {
    for (const auto& name : list(*reference_mount / kAlbum)) names.insert(kAlbum + "/" + name);
    for (const auto& name : names) {
      EXPECT_EQ(stat_of(session / name), stat_of(*reference_mount / name)) << what << ": " << name;
    }
  }

  std::unique_ptr<Session> reference_mount;
};

TEST_F(ReadAheadMount, AListingWorksOutSizesThatMatchAMountWithoutCaches) {
  const struct {
    const char* what;
    std::vector<std::string> options;
  } cases[] = {
      {"defaults", {}},
      {"one worker", {"--threads=1"}},
      {"attribute cache smaller than the directory", {"--attrcachesize=3"}},
      {"cache directory", cached()},
  };
  for (const auto& c : cases) {
    auto session = start(c.options);
    ASSERT_TRUE(session->live()) << c.what << ": " << session->output();
    EXPECT_EQ(list(*session / kAlbum).size(), static_cast<size_t>(kSongs)) << c.what;
    EXPECT_TRUE(wait_for_read_ahead(*session, kSongs)) << c.what << ": " << session->log();
    expect_reference_sizes(*session, c.what);
    // The walk found every size worked out: nothing was measured twice.
    EXPECT_EQ(count_lines(session->log(), "DEBUG Size read ahead: "), kSongs) << c.what;
    EXPECT_EQ(session->errors(), 0) << c.what << ": " << session->log();
    session->stop();
  }

  // The next mount finds every size in the index with one query per listing.
  auto session = start(cached());
  ASSERT_TRUE(session->live()) << session->output();
  list(*session / kAlbum);
  expect_reference_sizes(*session, "sizes from the index");
  EXPECT_NE(session->log().find("DEBUG Listing " + source / kAlbum + ": " + std::to_string(kSongs) +
                                " sizes from the index, 0 to work out."),
            std::string::npos)
      << session->log();
  EXPECT_EQ(count_lines(session->log(), "DEBUG Size read ahead: "), 0);
  session->stop();
}

// Whether a change comes while the work is queued or after it is done, a stat answers for the
// source as it is then.
TEST_F(ReadAheadMount, ChangesAfterTheListingAreAnsweredAsTheyAre) {
  const auto longer = [this](int i) { add_song(song(i), 2.0, 440.0, title(i)); };
  const struct {
    const char* what;
    bool after_read_ahead;
    std::function<void()> change;
    std::set<std::string> names;  // stat'ed besides what the album shows then
  } cases[] = {
      {"rewritten in place, once its size was read ahead", true, [&] { longer(0); }, {}},
      {"rewritten in place at once", false, [&] { longer(1); }, {}},
      {"replaced by mv at once",
       false,
       [&] {
         add_song("spare.flac", 1.5, 440.0, title(2));
         std::rename((source / "spare.flac").c_str(), (source / song(2)).c_str());
       },
       {}},
      {"deleted at once",
       false,
       [&] { unlink((source / song(3)).c_str()); },
       {kAlbum + "/song3.mp3"}},
      {"a song added at once", false, [&] { add_song(kAlbum + "/new.flac", 0.5); }, {}},
  };
  for (const auto& c : cases) {
    auto session = start({});
    ASSERT_TRUE(session->live()) << c.what << ": " << session->output();
    const auto names = list(*session / kAlbum);
    if (c.after_read_ahead) {
      EXPECT_TRUE(wait_for_read_ahead(*session, static_cast<int>(names.size()))) << c.what;
    }
    c.change();
    // No check of the log's errors: a size worked out while a file is half written fails,
    // and says so, as a reader's would.
    expect_reference_sizes(*session, c.what, c.names);
    session->stop();
  }
}

}  // namespace
