// The measured size against the size the full Transcoder announces, over sources that
// exercise every input of the size: LAME's resampling and frame length, the bitrate mode,
// the tags and pictures, and a remembered exact size.
#include "transcode/output_size.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/fixtures.h"
#include "support/settings_guard.h"
#include "support/tool_fixtures.h"
#include "transcode/stats_cache.h"
#include "transcode/transcoder.h"

namespace {

// Bytes that unsynchronisation would have to escape, so a size that wrongly depended on
// the picture's content would show.
std::vector<uint8_t> awkward_bytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = i % 3 == 0 ? 0xFF : static_cast<uint8_t>(0xE0 + i);
  return bytes;
}

struct Source {
  const char* name;
  bool vorbis;
  unsigned rate;
  unsigned channels;
  uint64_t samples;
  fixtures::Comments comments;
  std::vector<fixtures::Picture> pictures;
};

const fixtures::Comments kTags{"TITLE=Größe",   "ARTIST=A",
                               "ARTIST=B",      "ALBUM=Album",
                               "TRACKNUMBER=3", "TRACKTOTAL=12",
                               "DISCNUMBER=1",  "DATE=2024-05-06",
                               "GENRE=Test",    "REPLAYGAIN_ALBUM_GAIN=-3 dB"};

std::vector<Source> sources() {
  fixtures::Picture cover;
  cover.data = fixtures::solid_png(64, 64, 0x336699);
  fixtures::Picture big;
  big.mime_type = "image/jpeg";
  big.description = "Rückseite";
  big.type = 4;
  big.data = awkward_bytes(200 * 1024);
  return {
      {"cd", false, 44100, 2, 44100 * 3, kTags, {cover}},
      {"no tags", false, 44100, 2, 44100, {}, {}},
      {"mono", false, 44100, 1, 30000, kTags, {}},
      {"hires 96k", false, 96000, 2, 96000 * 2, kTags, {}},
      {"48k", false, 48000, 2, 48000, {}, {cover}},
      {"22.05k", false, 22050, 1, 22050 * 2, kTags, {}},
      {"11.025k", false, 11025, 2, 11025, {}, {}},
      {"8k", false, 8000, 1, 8000 * 3, kTags, {}},
      {"two pictures", false, 44100, 2, 5000, kTags, {cover, big}},
      {"one sample", false, 44100, 2, 1, {}, {}},
      {"vorbis", true, 44100, 2, 44100 * 2, kTags, {}},
      {"vorbis 32k mono", true, 32000, 1, 32000, {"TITLE=x"}, {}},
  };
}

struct Mode {
  const char* name;
  int bitrate;
  bool vbr;
  int quality;
  int id3v2_version = 4;
  const char* covers = "embedded";
  int gapless = 1;
};

const Mode kModes[] = {
    {"cbr 128", 128, false, 5},
    {"cbr 320", 320, false, 2},
    {"cbr 96", 96, false, 9},
    {"vbr 256", 256, true, 4},
    {"id3v2.3", 128, false, 5, 3},
    {"id3v2.3 vbr", 192, true, 5, 3},
    {"no covers", 128, false, 5, 4, "none"},
    {"folder covers", 128, false, 5, 4, "folder"},
    {"folder covers, id3v2.3", 128, false, 5, 3, "folder"},
    {"not gapless", 128, false, 5, 4, "embedded", 0},
    {"vbr not gapless", 128, true, 5, 4, "embedded", 0},
};

class OutputSize : public ::testing::Test {
 protected:
  std::string write(const Source& s) {
    const std::string path = dir / (std::string(s.name) + (s.vorbis ? ".ogg" : ".flac"));
    fixtures::AudioSpec spec;
    spec.sample_rate = s.rate;
    spec.channels = s.channels;
    spec.total_samples = s.samples;
    const bool written = s.vorbis ? fixtures::write_vorbis(path, spec, s.comments)
                                  : fixtures::write_flac(path, spec, s.comments, s.pictures);
    EXPECT_TRUE(written) << s.name;
    return path;
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
};

uint64_t transcoder_size(const std::string& path) {
  Transcoder transcoder(path);
  EXPECT_TRUE(transcoder.initialize()) << path;
  return transcoder.size();
}

TEST_F(OutputSize, EqualsTheTranscodersSizeForEverySourceAndMode) {
  // Taken by the sources without a picture of their own in folder mode.
  ASSERT_TRUE(fixtures::write_file(dir / "Cover.PNG", fixtures::solid_png(40, 30, 0xaa0000)));
  for (const Source& source : sources()) {
    const std::string path = write(source);
    for (const Mode& mode : kModes) {
      settings.bitrate = mode.bitrate;
      settings.vbr = mode.vbr;
      settings.quality = mode.quality;
      settings.id3v2_version = mode.id3v2_version;
      settings.covers = mode.covers;
      settings.gapless = mode.gapless;
      uint64_t measured = 0;
      ASSERT_TRUE(measure_output_size(path, measured)) << source.name << ", " << mode.name;
      EXPECT_EQ(measured, transcoder_size(path)) << source.name << ", " << mode.name;
    }
  }
}

TEST_F(OutputSize, TakesARememberedExactSizeAsTheTranscoderDoes) {
  settings.statcachesize = 100;
  settings.vbr = 1;
  const std::string path = write(sources()[0]);
  uint64_t predicted = 0;
  ASSERT_TRUE(measure_output_size(path, predicted));
  // Read to the end once, so the exact size is remembered.
  {
    Transcoder transcoder(path);
    ASSERT_TRUE(transcoder.initialize());
    std::vector<char> sink(1 << 16);
    int64_t offset = 0;
    for (int64_t n; (n = transcoder.read(sink.data(), offset, sink.size())) > 0;) offset += n;
  }
  uint64_t measured = 0;
  ASSERT_TRUE(measure_output_size(path, measured));
  EXPECT_LT(measured, predicted);
  EXPECT_EQ(measured, transcoder_size(path));
}

TEST_F(OutputSize, FailsWhereTheTranscoderFails) {
  const std::string words = "no audio in here, whatever the name says";
  ASSERT_TRUE(fixtures::write_file(dir / "words.flac", {words.begin(), words.end()}));
  ASSERT_TRUE(fixtures::write_file(dir / "damaged.flac", {'f', 'L', 'a', 'C', 0, 1}));
  ASSERT_TRUE(fixtures::write_file(dir / "notes.txt", {'x'}));
  for (const char* name : {"words.flac", "damaged.flac", "missing.flac", "notes.txt"}) {
    uint64_t size = 0;
    errno = 0;
    EXPECT_FALSE(measure_output_size(dir / name, size)) << name;
    EXPECT_EQ(errno, EIO) << name;
    Transcoder transcoder(dir / name);
    EXPECT_FALSE(transcoder.initialize()) << name;
  }
}

}  // namespace

namespace {

// The formats read through FFmpeg, made by Debian's encoders: the measured size holds
// for them too, covers and all.
TEST_F(OutputSize, EqualsTheTranscodersSizeForFormatsReadThroughFfmpeg) {
  fixtures::AudioSpec spec;
  spec.total_samples = 44100;
  const std::string wav = dir / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, spec));
  const fixtures::ToolTags tags{"Title", "Artist", "Album", "3/12"};
  const std::vector<uint8_t> cover = fixtures::solid_png(16, 16, 0x00ff00);
  const struct {
    fixtures::Tool tool;
    const char* name;
  } formats[] = {
      {fixtures::Tool::Opus, "a.opus"},  {fixtures::Tool::Opus, "b.ogg"},
      {fixtures::Tool::WavPack, "c.wv"}, {fixtures::Tool::Alac, "d.m4a"},
      {fixtures::Tool::Aac, "e.m4a"},    {fixtures::Tool::Aiff, "f.aiff"},
      {fixtures::Tool::Tta, "g.tta"},    {fixtures::Tool::OggFlac, "h.oga"},
  };
  for (const auto& format : formats) {
    ASSERT_TRUE(fixtures::encode_with_tool(format.tool, wav, dir / format.name, tags, cover))
        << format.name;
    for (int vbr : {0, 1}) {
      settings.vbr = vbr;
      uint64_t measured = 0;
      ASSERT_TRUE(measure_output_size(dir / format.name, measured)) << format.name;
      EXPECT_EQ(measured, transcoder_size(dir / format.name)) << format.name << " vbr " << vbr;
    }
  }
  uint64_t measured = 0;
  EXPECT_TRUE(measure_output_size(wav, measured));
  EXPECT_EQ(measured, transcoder_size(wav));
}

}  // namespace
