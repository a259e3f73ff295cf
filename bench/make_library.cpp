// Writes the benchmark library with the fixture writers.
//   make_library DIR SCALE   (SCALE "normal" or "tiny")
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

// A directory of numbered FLACs that all carry the same cover (none when
// cover_bytes is 0).
struct Directory {
  const char* name;
  int count;
  size_t cover_bytes;
  uint64_t seconds;
};

struct Library {
  uint64_t song_seconds;  // the long FLAC read sequentially
  std::vector<Directory> directories;
};

// covers: the listing with pictures; flat-*: the per-file cost of a small and
// a large directory; held: the ten files read and held open.
const Library normal_library = {180,
                                {{"covers", 300, 200 * 1024, 1},
                                 {"flat-250", 250, 0, 1},
                                 {"flat-4000", 4000, 0, 1},
                                 {"held", 10, 0, 60}}};
const Library tiny_library = {10,
                              {{"covers", 40, 20 * 1024, 1},
                               {"flat-25", 25, 0, 1},
                               {"flat-400", 400, 0, 1},
                               {"held", 10, 0, 3}}};

fixtures::AudioSpec seconds(uint64_t count, double frequency) {
  fixtures::AudioSpec spec;
  spec.total_samples = 44100 * count;
  spec.frequency = frequency;
  return spec;
}

std::string numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d.flac", i);
  return name;
}

bool write_directory(const std::string& root, const Directory& directory) {
  const std::string path = root + "/" + directory.name;
  mkdir(path.c_str(), 0755);
  std::vector<fixtures::Picture> pictures;
  if (directory.cover_bytes != 0) {
    // Incompressible cover bytes, so the picture really weighs what it says.
    std::mt19937 random(7);
    fixtures::Picture cover;
    cover.data.resize(directory.cover_bytes);
    for (auto& byte : cover.data) byte = static_cast<uint8_t>(random());
    pictures.push_back(std::move(cover));
  }
  for (int i = 0; i < directory.count; ++i) {
    const fixtures::Comments comments = {"TITLE=" + std::string(directory.name) + " " +
                                         std::to_string(i)};
    if (!fixtures::write_flac(path + "/" + numbered(i),
                              seconds(directory.seconds, 200 + 50 * (i % 40)), comments,
                              pictures)) {
      return false;
    }
  }
  return true;
}

// A library as a first scan meets it: album folders of short tagged songs, each with its
// own 20 KB cover, and one wide folder for a single listing.
struct ScanTree {
  int albums;
  int songs_per_album;
  int wide_songs;
};
const ScanTree normal_scan = {1000, 20, 300};
const ScanTree tiny_scan = {20, 5, 30};

bool write_album(const std::string& path, int album, int songs) {
  mkdir(path.c_str(), 0755);
  std::mt19937 random(album);
  fixtures::Picture cover;
  cover.data.resize(20 * 1024);
  for (auto& byte : cover.data) byte = static_cast<uint8_t>(random());
  for (int i = 0; i < songs; ++i) {
    fixtures::AudioSpec spec;
    spec.total_samples = 44100 / 5 + 441 * (i % 7);
    spec.frequency = 200 + 50 * (i % 40);
    const fixtures::Comments tags = {
        "TITLE=Song " + std::to_string(i) + " of album " + std::to_string(album),
        "ARTIST=Artist " + std::to_string(album % 97), "ALBUM=Album " + std::to_string(album),
        "TRACKNUMBER=" + std::to_string(i + 1), "DATE=2001", "GENRE=Rock"};
    if (!fixtures::write_flac(path + "/" + numbered(i), spec, tags, {cover})) return false;
  }
  return true;
}

bool write_scan_tree(const std::string& root, const ScanTree& tree) {
  mkdir(root.c_str(), 0755);
  const std::string albums = root + "/albums";
  mkdir(albums.c_str(), 0755);
  for (int a = 0; a < tree.albums; ++a) {
    char name[16];
    std::snprintf(name, sizeof name, "/%04d", a);
    if (!write_album(albums + name, a, tree.songs_per_album)) return false;
  }
  return write_album(root + "/wide", tree.albums, tree.wide_songs);
}

}  // namespace

int main(int argc, char** argv) {
  const bool scan = argc == 4 && std::string(argv[3]) == "scan";
  if (argc != 3 && !scan) {
    std::fprintf(stderr, "usage: make_library DIR normal|tiny [scan]\n");
    return 2;
  }
  const std::string root = argv[1];
  const bool tiny = std::string(argv[2]) == "tiny";
  if (scan) {
    const bool written = write_scan_tree(root, tiny ? tiny_scan : normal_scan);
    if (!written) std::fprintf(stderr, "make_library: a writer failed\n");
    return written ? 0 : 1;
  }
  const Library& library = tiny ? tiny_library : normal_library;
  mkdir(root.c_str(), 0755);

  bool ok = fixtures::write_flac(root + "/song.flac", seconds(library.song_seconds, 440),
                                 {"TITLE=Benchmark", "ARTIST=olvex"});
  for (const Directory& directory : library.directories) {
    ok = ok && write_directory(root, directory);
  }
  if (!ok) std::fprintf(stderr, "make_library: a writer failed\n");
  return ok ? 0 : 1;
}
