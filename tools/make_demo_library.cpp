// make_demo_library OUT_DIR: writes a small music library to try the filesystem on.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fixtures.h"
#include "support/tool_fixtures.h"

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

// A whole disc in one FLAC file with the CUE sheet a ripper writes beside it: the mirror
// lists it as its three tracks.
bool write_album_image(const std::string& directory) {
  fixtures::AudioSpec spec;
  spec.frequency = 329.63;
  spec.total_samples = 9 * spec.sample_rate;
  const std::string sheet =
      "REM GENRE \"Ambient\"\n"
      "REM DATE 2024\n"
      "PERFORMER \"Demo Artist\"\n"
      "TITLE \"Demo Image\"\n"
      "FILE \"Demo Image.wav\" WAVE\n"
      "  TRACK 01 AUDIO\n"
      "    TITLE \"Dawn\"\n"
      "    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n"
      "    TITLE \"Noon\"\n"
      "    INDEX 00 00:02:60\n"
      "    INDEX 01 00:03:00\n"
      "  TRACK 03 AUDIO\n"
      "    TITLE \"Dusk\"\n"
      "    INDEX 01 00:06:00\n";
  return fixtures::write_flac(directory + "/Demo Image.flac", spec) &&
         fixtures::write_file(directory + "/Demo Image.cue",
                              std::vector<uint8_t>(sheet.begin(), sheet.end()));
}

// One file in each other format the mirror reads, made by Debian's encoders from a WAV.
bool write_other_formats(const std::string& directory, const std::vector<uint8_t>& cover) {
  fixtures::AudioSpec spec;
  spec.frequency = 392.0;
  spec.total_samples = 2 * spec.sample_rate;
  const std::string wav = directory + "/.source.wav";
  if (!fixtures::write_wav(wav, spec)) return false;
  const struct {
    fixtures::Tool tool;
    const char* name;
  } formats[] = {
      {fixtures::Tool::Opus, "Opus.opus"},        {fixtures::Tool::WavPack, "WavPack.wv"},
      {fixtures::Tool::Alac, "ALAC.m4a"},         {fixtures::Tool::Wav, "WAV.wav"},
      {fixtures::Tool::Aiff, "AIFF.aiff"},        {fixtures::Tool::Tta, "TTA.tta"},
      {fixtures::Tool::OggFlac, "Ogg FLAC.oga"},  {fixtures::Tool::Aac, "AAC.m4a"},
      {fixtures::Tool::Wma, "WMA.wma"},           {fixtures::Tool::MatroskaFlac, "Matroska.mka"},
      {fixtures::Tool::WebmOpus, "WebM.webm"},    {fixtures::Tool::Adts, "ADTS.aac"},
      {fixtures::Tool::Ac3, "AC-3.ac3"},          {fixtures::Tool::Dts, "DTS.dts"},
      {fixtures::Tool::Musepack, "Musepack.mpc"},
  };
  bool ok = true;
  for (const auto& format : formats) {
    const std::string title =
        std::string(format.name).substr(0, std::string(format.name).rfind('.'));
    const fixtures::ToolTags tags{title, "Demo Artist", "Demo Formats", ""};
    if (!fixtures::encode_with_tool(format.tool, wav, directory + "/" + format.name, tags, cover)) {
      fprintf(stderr, "make_demo_library: cannot write %s\n", format.name);
      ok = false;
    }
  }
  unlink(wav.c_str());
  if (!fixtures::write_dsf(directory + "/DSD.dsf", spec, "DSD")) {
    fprintf(stderr, "make_demo_library: cannot write DSD.dsf\n");
    ok = false;
  }
  return ok;
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
  const std::string image_album = artist + "/Demo Image";
  const std::string formats = artist + "/Demo Formats";
  if (!make_dir(root) || !make_dir(artist) || !make_dir(album) || !make_dir(image_album) ||
      !make_dir(formats)) {
    return 1;
  }

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

  const std::string notes =
      "A demo library: one FLAC and one Ogg Vorbis track with covers; beside this album, a\n"
      "disc kept as one FLAC image with its CUE sheet, and a file of each other format.\n";
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
      {"Demo Image.flac and its sheet", write_album_image(image_album)},
      {"one file of each other format", write_other_formats(formats, cover.data)},
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
