#include "fs/path_mapping.h"

#include <gtest/gtest.h>

#include "source_tree.h"

namespace {

TEST(ToSourcePath, PrefixesBasepathVerbatim) {
  SettingsGuard guard;
  const struct {
    const char* basepath;
    const char* path;
    const char* expected;
  } cases[] = {
      {"/music", "/a/b.flac", "/music/a/b.flac"},
      {"/music", "/", "/music/"},
      {"/music/", "/x", "/music//x"},
  };
  for (const auto& c : cases) {
    settings.basepath = c.basepath;
    EXPECT_EQ(to_source_path(c.path), c.expected) << c.basepath << " " << c.path;
  }
}

TEST(ToOutputName, ReplacesOnlyDecodableExtensions) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"song.flac", "song.mp3"},
      {"Song.FLAC", "Song.mp3"},
      {"track.oga", "track.mp3"},
      {"track.ogg", "track.mp3"},
      {"a.tar.flac", "a.tar.mp3"},
      {".flac", ".mp3"},
      {"../album/01.flac", "../album/01.mp3"},
      {"notes.txt", "notes.txt"},
      {"README", "README"},
      {"x.", "x."},
      {"song.mp3", "song.mp3"},
      // The extension is taken from the whole string, not the last component.
      {"dir.flac/file", "dir.flac/file"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_output_name(c.name), c.expected) << c.name;
}

TEST(ToOutputName, UsesDesttype) {
  SettingsGuard guard;
  settings.desttype = "xyz";
  EXPECT_EQ(to_output_name("song.flac"), "song.xyz");
}

class FindSource : public SourceTree {};

TEST_F(FindSource, ResolvesNamesAgainstTheDirectory) {
  add_file("song.flac");
  add_file("live.concert.ogg");
  add_file("Upper.flac");
  add_file("notes.txt");
  add_file(".hidden.flac");
  add_file(".hidden");
  add_dir("sub");
  add_file("sub/deep.oga");
  const struct {
    const char* path;
    const char* expected;  // relative to the source tree
  } cases[] = {
      {"/song.mp3", "song.flac"},
      {"/live.mp3", "live.concert.ogg"},  // beginning with the prefix is enough
      {"/upper.mp3", "upper.mp3"},        // prefix comparison is case-sensitive
      {"/song.MP3", "song.MP3"},          // the extension must equal desttype exactly
      {"/song.flac", "song.flac"},
      {"/notes.mp3", "notes.mp3"},  // notes.txt is not decodable
      {"/sub", "sub"},
      {"/README", "README"},
      {"/sub/deep.mp3", "sub/deep.oga"},
      {"/missing/song.mp3", "missing/song.mp3"},
      {"/.mp3", ".hidden.flac"},  // "." and ".." and .hidden do not qualify
  };
  for (const auto& c : cases) EXPECT_EQ(find_source(c.path), source(c.expected)) << c.path;
}

TEST_F(FindSource, FirstDecodableEntryInDirectoryOrderWins) {
  add_file("song.flac");
  add_file("song.ogg");
  const std::string found = find_source("/song.mp3");
  EXPECT_TRUE(found == source("song.flac") || found == source("song.ogg")) << found;
}

TEST_F(FindSource, DotInADirectoryNameIsNoExtension) {
  add_dir("v1.mp3");
  add_dir("v1.mp3/mp3");
  EXPECT_EQ(find_source("/v1.mp3/mp3"), source("v1.mp3/mp3"));
}

}  // namespace
