// make_demo_library OUT_DIR: writes a small music library to try the filesystem on.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fixtures.h"

namespace {

bool make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  fprintf(stderr, "make_demo_library: cannot create %s: %s\n", path.c_str(), strerror(errno));
  return false;
}

fixtures::Comments track_tags(const char* title, int number) {
  return {std::string("TITLE=") + title,
          "ARTIST=Demo Artist",
          "ALBUM=Demo Album",
          "TRACKNUMBER=" + std::to_string(number),
          "TRACKTOTAL=2",
          "DATE=2024",
          "GENRE=Electronic"};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_demo_library OUT_DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string artist = root + "/Demo Artist";
  const std::string album = artist + "/Demo Album";
  if (!make_dir(root) || !make_dir(artist) || !make_dir(album)) return 1;

  fixtures::Picture cover;
  cover.description = "Cover";
  cover.data = fixtures::solid_png(64, 64, 0x3366cc);

  fixtures::AudioSpec sine;
  sine.total_samples = 4 * sine.sample_rate;

  fixtures::AudioSpec chord = sine;
  chord.frequency = 261.63;  // C4 and its octave on the two channels
  chord.total_samples = 3 * chord.sample_rate;

  fixtures::Comments ogg_tags = track_tags("Chord", 2);
  ogg_tags.push_back("METADATA_BLOCK_PICTURE=" + fixtures::base64(fixtures::picture_block(cover)));

  const std::string notes = "A demo library: one FLAC and one Ogg Vorbis track with covers.\n";
  struct Step {
    const char* name;
    bool ok;
  };
  const Step steps[] = {
      {"01 - Sine.flac",
       fixtures::write_flac(album + "/01 - Sine.flac", sine, track_tags("Sine", 1), {cover})},
      {"02 - Chord.ogg", fixtures::write_vorbis(album + "/02 - Chord.ogg", chord, ogg_tags)},
      {"cover.png", fixtures::write_file(album + "/cover.png", cover.data)},
      {"notes.txt", fixtures::write_file(album + "/notes.txt",
                                         std::vector<uint8_t>(notes.begin(), notes.end()))},
  };
  int status = 0;
  for (const Step& step : steps) {
    if (!step.ok) {
      fprintf(stderr, "make_demo_library: cannot write %s\n", step.name);
      status = 1;
    }
  }
  return status;
}
