// Writes the benchmark library with the fixture writers.
//   make_library DIR SCALE   (SCALE "normal" or "tiny")
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/fixtures.h"

namespace {

struct Sizes {
  uint64_t song_seconds;  // the long FLAC read sequentially
  int covers;             // files in the listed directory
  size_t cover_bytes;
  uint64_t held_seconds;  // each of the ten files held open
};

fixtures::AudioSpec seconds(uint64_t count, double frequency) {
  fixtures::AudioSpec spec;
  spec.total_samples = 44100 * count;
  spec.frequency = frequency;
  return spec;
}

std::string numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "%03d.flac", i);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_library DIR normal|tiny\n");
    return 2;
  }
  const std::string root = argv[1];
  const bool tiny = std::string(argv[2]) == "tiny";
  const Sizes sizes = tiny ? Sizes{10, 40, 20 * 1024, 3} : Sizes{180, 500, 200 * 1024, 30};
  for (const char* sub : {"", "/covers", "/held"}) mkdir((root + sub).c_str(), 0755);

  bool ok = fixtures::write_flac(root + "/song.flac", seconds(sizes.song_seconds, 440),
                                 {"TITLE=Benchmark", "ARTIST=olvex"});
  // Incompressible cover bytes, so the picture really weighs what it says.
  std::mt19937 random(7);
  fixtures::Picture cover;
  cover.data.resize(sizes.cover_bytes);
  for (auto& byte : cover.data) byte = static_cast<uint8_t>(random());
  for (int i = 0; ok && i < sizes.covers; ++i) {
    ok = fixtures::write_flac(root + "/covers/" + numbered(i), seconds(1, 300 + i),
                              {"TITLE=Cover " + std::to_string(i)}, {cover});
  }
  for (int i = 0; ok && i < 10; ++i) {
    ok = fixtures::write_flac(root + "/held/" + numbered(i),
                              seconds(sizes.held_seconds, 200 + 50 * i));
  }
  if (!ok) std::fprintf(stderr, "make_library: a writer failed\n");
  return ok ? 0 : 1;
}
