#include "cache/dir_index.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

// A real "mp3" of the shown name first, then FLAC before Ogg in any letter case; nothing
// else is a source.
int audio_rank(const std::string& extension) {
  if (extension == "mp3") return 0;
  std::string lower = extension;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (lower == "flac") return 1;
  if (lower == "ogg") return 2;
  return -1;
}

void touch(const std::string& path) {
  ASSERT_TRUE(fixtures::write_file(path, {}));
}

// Directory changes in these tests come faster than the index keeps listings; wait so
// that the listing built next is the kept one.
void settle() {
  usleep(120'000);
}

TEST(DirIndex, EveryStemHasOneWinnerWhateverTheDirectoryOrder) {
  const char* const names[] = {
      "song.ogg",    "song.flac", "live.concert.ogg", "live.flac", "a.b.c.flac",  ".flac",
      ".hidden.ogg", "notes.txt", "song.txt",         "x.",        "Upper.FLAC",  "take.flac",
      "take.mp3",    "b.c.mp3",   "case.ogg",         "case.OGG",  "folder.flac", "solo.ogg"};
  const struct {
    const char* prefix;
    const char* winner;
  } cases[] = {
      {"song.", "song.flac"},  // lossless before lossy, whichever comes first
      {"take.", "take.mp3"},   // a real file of the shown name before any source
      {"live.", "live.flac"},  // a name shown under the stem before a longer one
      {"live.concert.", "live.concert.ogg"},
      {"a.", "a.b.c.flac"},  // longer names still answer a bare stem
      {"a.b.", "a.b.c.flac"},
      {".", ".flac"},
      {".hidden.", ".hidden.ogg"},
      {"case.", "case.OGG"},  // same rank: the lesser name
      {"b.", ""},             // a real file stands only for its own stem
      {"b.c.", "b.c.mp3"},
      {"folder.", "folder.flac"},  // of any kind: the caller looks at what it found
      {"solo.", "solo.ogg"},
      {"notes.", ""},
      {"x.", ""},
      {"Upper.", "Upper.FLAC"},
      {"upper.", ""},
      {"missing.", ""},
  };
  // Created in both orders, so that neither order of entries can decide.
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed ? "reversed" : "forward");
    fixtures::TempDir dir;
    std::vector<std::string> order(std::begin(names), std::end(names));
    if (reversed) std::reverse(order.begin(), order.end());
    for (const std::string& name : order) {
      if (name == "folder.flac") {
        ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
      } else {
        touch(dir / name);
      }
    }
    settle();
    DirIndex index(1000, audio_rank);
    for (const auto& c : cases) {
      for (int pass = 0; pass < 2; ++pass) {  // built, then from memory
        EXPECT_EQ(index.find(dir.path(), c.prefix), c.winner) << c.prefix;
      }
    }
    const auto all = index.all(dir.path());
    ASSERT_TRUE(all);
    for (const auto& c : cases) {
      const auto found = all->find(c.prefix);
      EXPECT_EQ(found == all->end() ? "" : found->second, c.winner) << c.prefix;
    }
    EXPECT_EQ(index.directories(), 1u);
  }
}

TEST(DirIndex, ChangesAreSeenAtOnce) {
  fixtures::TempDir dir;
  touch(dir / "b.ogg");
  settle();
  DirIndex index(1000, audio_rank);
  const struct {
    const char* what;
    void (*change)(const fixtures::TempDir&);
    const char* prefix;
    const char* after;
  } steps[] = {
      {"new name", [](const fixtures::TempDir& d) { touch(d / "new.flac"); }, "new.", "new.flac"},
      {"removed", [](const fixtures::TempDir& d) { unlink((d / "b.ogg").c_str()); }, "b.", ""},
      {"renamed",
       [](const fixtures::TempDir& d) {
         std::rename((d / "new.flac").c_str(), (d / "other.ogg").c_str());
       },
       "other.", "other.ogg"},
      {"better sibling", [](const fixtures::TempDir& d) { touch(d / "other.flac"); }, "other.",
       "other.flac"},
      {"real file", [](const fixtures::TempDir& d) { touch(d / "other.mp3"); }, "other.",
       "other.mp3"},
  };
  for (const auto& step : steps) {
    index.find(dir.path(), step.prefix);  // built before the change
    settle();
    step.change(dir);
    EXPECT_EQ(index.find(dir.path(), step.prefix), step.after) << step.what;
  }
}

TEST(DirIndex, ADirectoryReplacedUnderTheSamePathIsScannedAgain) {
  fixtures::TempDir root;
  const std::string album = root / "album";
  ASSERT_EQ(mkdir(album.c_str(), 0755), 0);
  touch(album + "/song.flac");
  settle();
  DirIndex index(1000, audio_rank);
  ASSERT_EQ(index.find(album, "song."), "song.flac");

  ASSERT_EQ(std::rename(album.c_str(), (root / "old").c_str()), 0);
  EXPECT_EQ(index.find(album, "song."), "");  // gone: nothing is served from memory
  ASSERT_EQ(mkdir(album.c_str(), 0755), 0);
  touch(album + "/song.ogg");
  EXPECT_EQ(index.find(album, "song."), "song.ogg");
}

TEST(DirIndex, ManyDirectoriesStayWithinTheBound) {
  fixtures::TempDir root;
  constexpr int kDirectories = 300;
  for (int i = 0; i < kDirectories; ++i) {
    const std::string d = root / std::to_string(i);
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    touch(d + "/t.flac");
  }
  settle();
  DirIndex index(100, audio_rank);  // each directory weighs two names here
  for (int i = 0; i < kDirectories; ++i) {
    EXPECT_EQ(index.find(root / std::to_string(i), "t."), "t.flac");
    EXPECT_LE(index.names(), 100u);
  }
  EXPECT_EQ(index.directories(), 50u);
  // The most recent ones are still held; an old one is simply scanned again.
  EXPECT_EQ(index.find(root / "0", "t."), "t.flac");
}

TEST(DirIndex, UnreadableOrMissingDirectoryFindsNothing) {
  fixtures::TempDir dir;
  DirIndex index(1000, audio_rank);
  EXPECT_EQ(index.find(dir / "missing", "a."), "");
  touch(dir / "file");
  EXPECT_EQ(index.find(dir / "file", "a."), "");
}

}  // namespace
