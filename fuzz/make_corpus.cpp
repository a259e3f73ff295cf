// Writes the seed corpora: small valid inputs from the fixture writers.
//   make_corpus DIR   (creates DIR/picture_block, DIR/flac_transcode, DIR/vorbis_transcode,
//                      DIR/wavpack_transcode, which also holds the other FFmpeg containers)
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "support/fixtures.h"
#include "support/tool_fixtures.h"

namespace {

bool put(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (fixtures::write_file(path, bytes)) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

bool pictures(const std::string& dir) {
  fixtures::Picture cover;
  cover.description = "front";
  cover.data = fixtures::solid_png(4, 4, 0x336699);
  fixtures::Picture bare;
  bare.mime_type = "";
  bare.data = {1, 2, 3};
  const auto block = fixtures::picture_block(cover);
  const std::string text = fixtures::base64(fixtures::picture_block(bare));
  return put(dir + "/cover.bin", block) &&
         put(dir + "/cover.b64", std::vector<uint8_t>(text.begin(), text.end()));
}

fixtures::AudioSpec short_spec(unsigned rate, unsigned channels, unsigned bits, uint64_t samples) {
  fixtures::AudioSpec spec;
  spec.sample_rate = rate;
  spec.channels = channels;
  spec.bits_per_sample = bits;
  spec.total_samples = samples;
  return spec;
}

bool sources(const std::string& flac_dir, const std::string& ogg_dir) {
  const fixtures::Comments tags = {"TITLE=Seed", "ARTIST=Fuzz", "TRACKNUMBER=3/9",
                                   "REPLAYGAIN_TRACK_GAIN=-3.5 dB"};
  fixtures::Picture cover;
  cover.data = fixtures::solid_png(2, 2, 0xff0000);
  const std::string block = fixtures::base64(fixtures::picture_block(cover));
  fixtures::Comments ogg_tags = tags;
  ogg_tags.push_back("METADATA_BLOCK_PICTURE=" + block);
  return fixtures::write_flac(flac_dir + "/mono8.flac", short_spec(8000, 1, 8, 1500)) &&
         fixtures::write_flac(flac_dir + "/stereo16.flac", short_spec(22050, 2, 16, 1200), tags,
                              {cover}) &&
         fixtures::write_vorbis(ogg_dir + "/mono.ogg", short_spec(8000, 1, 16, 1500)) &&
         fixtures::write_vorbis(ogg_dir + "/stereo.ogg", short_spec(22050, 2, 16, 1200), ogg_tags);
}

// WavPack by the wavpack tool, from a short WAV; one with APEv2 tags and a cover.
bool wavpack(const std::string& dir) {
  const std::string wav = dir + "/source.wav";
  const bool made =
      fixtures::write_wav(wav, short_spec(8000, 1, 16, 1500)) &&
      fixtures::encode_with_tool(fixtures::Tool::WavPack, wav, dir + "/mono.wv", {}) &&
      fixtures::write_wav(wav, short_spec(22050, 2, 16, 1200)) &&
      fixtures::encode_with_tool(fixtures::Tool::WavPack, wav, dir + "/stereo.wv",
                                 {"Seed", "Fuzz", "", "3/9"}, fixtures::solid_png(2, 2, 0xff0000));
  std::remove(wav.c_str());
  return made;
}

// One short seed per further container read through FFmpeg. The target names them all
// .wv, so they reach their demuxers through the content probe, as a misnamed file would.
bool containers(const std::string& dir) {
  using fixtures::Tool;
  const std::string wav = dir + "/source.wav";
  const fixtures::ToolTags tags = {"Seed", "Fuzz", "", "3/9"};
  const std::pair<Tool, const char*> made[] = {
      {Tool::Wma, "/seed.wma"}, {Tool::MatroskaFlac, "/seed.mka"}, {Tool::Adts, "/seed.aac"},
      {Tool::Ac3, "/seed.ac3"}, {Tool::Musepack, "/seed.mpc"},
  };
  // 44.1 kHz, since Musepack takes no lower rate; enough AC-3 frames for the probe to
  // recognise a raw stream.
  bool ok = fixtures::write_wav(wav, short_spec(44100, 2, 16, 8192));
  for (const auto& [tool, name] : made) {
    ok = ok && fixtures::encode_with_tool(tool, wav, dir + name, tags);
  }
  std::remove(wav.c_str());
  // One 4096-byte block per channel: the smallest DSF there is.
  return ok && fixtures::write_dsf(dir + "/seed.dsf", short_spec(44100, 1, 16, 100), "Seed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string dirs[] = {root, root + "/picture_block", root + "/flac_transcode",
                              root + "/vorbis_transcode", root + "/wavpack_transcode"};
  for (const auto& dir : dirs) mkdir(dir.c_str(), 0755);
  return pictures(dirs[1]) && sources(dirs[2], dirs[3]) && wavpack(dirs[4]) && containers(dirs[4])
             ? 0
             : 1;
}
