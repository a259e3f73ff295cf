#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "fs/handlers.h"
#include "source_tree.h"

namespace {

struct Listing {
  std::vector<std::string> names;
  std::map<std::string, struct stat> records;
  size_t capacity = SIZE_MAX;  // the filler reports a full buffer after this many names
};

int fill(void* buffer, const char* name, const struct stat* record, off_t offset) {
  auto* listing = static_cast<Listing*>(buffer);
  EXPECT_EQ(offset, 0);
  if (listing->names.size() == listing->capacity) return 1;
  listing->names.push_back(name);
  listing->records[name] = *record;
  return 0;
}

std::vector<std::string> directory_order(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

class Readdir : public SourceTree {
 protected:
  void SetUp() override {
    add_flac("song.flac");
    add_file("cover.jpg", "jpeg");
    add_link("link.flac", "song.flac");
    add_dir("sub.flac");
  }
};

TEST_F(Readdir, ConvertsFilesAndLinksInDirectoryOrder) {
  const std::map<std::string, std::string> shown = {
      {".", "."},
      {"..", ".."},
      {"song.flac", "song.mp3"},
      {"cover.jpg", "cover.jpg"},
      {"link.flac", "link.mp3"},
      {"sub.flac", "sub.flac"},
  };
  std::vector<std::string> expected;
  for (const auto& name : directory_order(dir.path())) expected.push_back(shown.at(name));

  Listing listing;
  EXPECT_EQ(Handlers::readdir("/", &listing, fill, 0, nullptr), 0);
  EXPECT_EQ(listing.names, expected);
}

TEST_F(Readdir, EntriesCarryTheSourceRecords) {
  Listing listing;
  ASSERT_EQ(Handlers::readdir("/", &listing, fill, 0, nullptr), 0);
  struct stat flac = {};
  ASSERT_EQ(lstat(source("song.flac").c_str(), &flac), 0);
  EXPECT_EQ(listing.records["song.mp3"].st_size, flac.st_size);
  EXPECT_EQ(listing.records["song.mp3"].st_ino, flac.st_ino);
  EXPECT_TRUE(S_ISLNK(listing.records["link.mp3"].st_mode));
  EXPECT_TRUE(S_ISDIR(listing.records["sub.flac"].st_mode));
}

TEST_F(Readdir, FullFillerEndsTheListingWithSuccess) {
  Listing listing;
  listing.capacity = 2;
  EXPECT_EQ(Handlers::readdir("/", &listing, fill, 0, nullptr), 0);
  EXPECT_EQ(listing.names.size(), 2u);
}

TEST_F(Readdir, Failures) {
  add_file("plain.txt");
  const struct {
    const char* path;
    int result;
  } cases[] = {{"/missing", -ENOENT}, {"/plain.txt", -ENOTDIR}, {"/sub.mp3", -ENOENT}};
  for (const auto& c : cases) {
    Listing listing;
    EXPECT_EQ(Handlers::readdir(c.path, &listing, fill, 0, nullptr), c.result) << c.path;
    EXPECT_TRUE(listing.names.empty());
  }
}

// The directory stream has already read the names when the files vanish.
TEST_F(Readdir, EntryRemovedDuringTheListingEndsItWithItsError) {
  struct Vanishing : Listing {
    std::string tree;
    bool removed = false;
  } listing;
  listing.tree = dir.path();
  auto fill_and_remove = [](void* buffer, const char* name, const struct stat* record,
                            off_t offset) {
    auto* self = static_cast<Vanishing*>(buffer);
    if (!self->removed) {
      for (const char* victim : {"song.flac", "cover.jpg", "link.flac"}) {
        unlink((self->tree + "/" + victim).c_str());
      }
      self->removed = true;
    }
    return fill(buffer, name, record, offset);
  };
  EXPECT_EQ(Handlers::readdir("/", &listing, fill_and_remove, 0, nullptr), -ENOENT);
}

TEST_F(Readdir, ListsSubdirectories) {
  add_file("sub.flac/inner.ogg");
  Listing listing;
  ASSERT_EQ(Handlers::readdir("/sub.flac", &listing, fill, 0, nullptr), 0);
  EXPECT_EQ(listing.records.count("inner.mp3"), 1u);
}

}  // namespace
