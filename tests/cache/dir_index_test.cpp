#include "cache/dir_index.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

bool audio_extension(const std::string& extension) {
  return extension == "flac" || extension == "ogg";
}

// What a plain scan of the directory answers: the reference the index must agree with.
std::string scan_for(const std::string& directory, const std::string& prefix) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return {};
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && audio_extension(name.substr(dot + 1))) {
      found = name;
      break;
    }
  }
  closedir(dir);
  return found;
}

void touch(const std::string& path) {
  ASSERT_TRUE(fixtures::write_file(path, {}));
}

// Directory changes in these tests come faster than the index keeps listings; wait so
// that the listing built next is the kept one.
void settle() {
  usleep(120'000);
}

TEST(DirIndex, AgreesWithAPlainScanForEveryStem) {
  fixtures::TempDir dir;
  for (const char* name : {"song.flac", "song.ogg", "live.concert.ogg", "a.b.c.flac", ".flac",
                           ".hidden.ogg", "notes.txt", "song.txt", "x.", "Upper.FLAC"}) {
    touch(dir / name);
  }
  settle();
  DirIndex index(1000, audio_extension);
  for (const char* prefix : {"song.", "live.", "live.concert.", "a.", "a.b.", "a.b.c.", ".",
                             ".hidden.", "notes.", "x.", "Upper.", "upper.", "missing."}) {
    for (int pass = 0; pass < 2; ++pass) {  // built, then from memory
      EXPECT_EQ(index.find(dir.path(), prefix), scan_for(dir.path(), prefix)) << prefix;
    }
  }
  EXPECT_EQ(index.directories(), 1u);
}

TEST(DirIndex, ChangesAreSeenAtOnce) {
  fixtures::TempDir dir;
  touch(dir / "b.ogg");
  settle();
  DirIndex index(1000, audio_extension);
  const struct {
    const char* what;
    void (*change)(const fixtures::TempDir&);
    const char* prefix;
  } steps[] = {
      {"new name", [](const fixtures::TempDir& d) { touch(d / "new.flac"); }, "new."},
      {"removed", [](const fixtures::TempDir& d) { unlink((d / "b.ogg").c_str()); }, "b."},
      {"renamed",
       [](const fixtures::TempDir& d) {
         std::rename((d / "new.flac").c_str(), (d / "other.flac").c_str());
       },
       "other."},
      {"sibling", [](const fixtures::TempDir& d) { touch(d / "other.ogg"); }, "other."},
  };
  for (const auto& step : steps) {
    index.find(dir.path(), step.prefix);  // built before the change
    settle();
    step.change(dir);
    EXPECT_EQ(index.find(dir.path(), step.prefix), scan_for(dir.path(), step.prefix)) << step.what;
  }
}

TEST(DirIndex, ADirectoryReplacedUnderTheSamePathIsScannedAgain) {
  fixtures::TempDir root;
  const std::string album = root / "album";
  ASSERT_EQ(mkdir(album.c_str(), 0755), 0);
  touch(album + "/song.flac");
  settle();
  DirIndex index(1000, audio_extension);
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
  DirIndex index(100, audio_extension);  // each directory weighs two names here
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
  DirIndex index(1000, audio_extension);
  EXPECT_EQ(index.find(dir / "missing", "a."), "");
  touch(dir / "file");
  EXPECT_EQ(index.find(dir / "file", "a."), "");
}

}  // namespace
