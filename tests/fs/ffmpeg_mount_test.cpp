#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"
#include "support/mp3_decode.h"
#include "support/tool_fixtures.h"

namespace {

using fixtures::Tool;

constexpr uint64_t kSourceSamples = 44100;  // one second
constexpr double kSourceSeconds = 1.0;
constexpr int kCommandTimeoutMs = 60000;
// Debian's interpreter, the one its python3-mutagen package installs into.
constexpr const char* kTagReaderPython = "/usr/bin/python3";

struct Format {
  const char* stem;
  Tool tool;
  const char* extension;
  bool cover;  // the tool embeds one
};

const Format kFormats[] = {
    {"opus", Tool::Opus, "opus", true},     {"opus-in-ogg", Tool::Opus, "ogg", true},
    {"wavpack", Tool::WavPack, "wv", true}, {"alac", Tool::Alac, "m4a", true},
    {"aac", Tool::Aac, "m4a", true},        {"wav", Tool::Wav, "wav", false},
    {"aiff", Tool::Aiff, "aiff", true},     {"aif", Tool::Aiff, "aif", true},
    {"tta", Tool::Tta, "tta", false},       {"ogg-flac", Tool::OggFlac, "oga", false},
};

// The kinds whose truncated copies must fail: one per tool.
const Format kCutKinds[] = {
    {"opus", Tool::Opus, "opus", true},        {"wavpack", Tool::WavPack, "wv", true},
    {"alac", Tool::Alac, "m4a", true},         {"wav", Tool::Wav, "wav", false},
    {"aiff", Tool::Aiff, "aiff", true},        {"tta", Tool::Tta, "tta", false},
    {"ogg-flac", Tool::OggFlac, "oga", false},
};

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) text += {digits[b >> 4], digits[b & 15]};
  return text;
}

// One source tree for the suite: every format from the same synthesized second,
// tagged, plus a 5.1 ALAC, truncated copies and a file of an unknown type.
class FfmpegFormatsMounted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    source = std::make_unique<fixtures::TempDir>();
    cover = fixtures::solid_png(8, 8, 0x3366cc);
    fixtures::AudioSpec spec;
    spec.total_samples = kSourceSamples;
    const std::string wav = *source / "source.wav.tmp";
    ASSERT_TRUE(fixtures::write_wav(wav, spec));
    for (const Format& f : kFormats) {
      const fixtures::ToolTags tags = {std::string("Song ") + f.stem, "The Band", "The Album",
                                       "3/12"};
      ASSERT_TRUE(fixtures::encode_with_tool(f.tool, wav, *source / name_of(f), tags, cover))
          << f.stem;
    }
    for (const Format& f : kCutKinds) {
      const auto bytes = fixtures::read_file(*source / name_of(f));
      // An odd length ends inside a frame of every kind.
      const size_t keep = bytes.size() / 2 | 1;
      ASSERT_TRUE(fixtures::write_file(*source / ("cut-" + name_of(f)),
                                       {bytes.begin(), bytes.begin() + static_cast<long>(keep)}));
    }
    ASSERT_TRUE(fixtures::write_file(*source / "garbage.ape", std::vector<uint8_t>(3000, 0x41)));

    fixtures::AudioSpec surround = spec;
    surround.channels = 6;
    ASSERT_TRUE(fixtures::write_wav(wav, surround));
    ASSERT_TRUE(fixtures::encode_with_tool(Tool::Alac, wav, *source / "surround.m4a",
                                           {"Surround", "", "", ""}));
    unlink(wav.c_str());
    ASSERT_TRUE(fixtures::write_file(*source / "voice.ra", {'.', 'r', 'a', 0xfd, 0, 1, 2, 3}));
  }

  static void TearDownTestSuite() { source.reset(); }

  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    mount = std::make_unique<Mount>(source->path());
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  static std::string name_of(const Format& f) { return std::string(f.stem) + "." + f.extension; }
  static std::string mp3_of(const Format& f) { return std::string(f.stem) + ".mp3"; }

  static std::unique_ptr<fixtures::TempDir> source;
  static std::vector<uint8_t> cover;
  fixtures::TempDir scratch;
  std::unique_ptr<Mount> mount;
};

std::unique_ptr<fixtures::TempDir> FfmpegFormatsMounted::source;
std::vector<uint8_t> FfmpegFormatsMounted::cover;

TEST_F(FfmpegFormatsMounted, EachFormatIsAnMp3OfItsStatSizeAndItsSourceLength) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.stem);
    struct stat record = {};
    ASSERT_EQ(stat((*mount / mp3_of(f)).c_str(), &record), 0) << strerror(errno);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(read_all(*mount / mp3_of(f), bytes), 0);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(record.st_size));

    const DecodedMp3 decoded = decode_mp3(bytes);
    EXPECT_TRUE(decoded.clean()) << decoded.errors << " errors";
    EXPECT_EQ(decoded.channels, 2);
    ASSERT_GT(decoded.sample_rate, 0);
    const double seconds = static_cast<double>(decoded.frames()) / decoded.sample_rate;
    EXPECT_NEAR(seconds, kSourceSeconds, 0.12);
  }
}

TEST_F(FfmpegFormatsMounted, TagsAndCoversReadBackWithARealTagReader) {
  std::vector<std::string> argv = {
      kTagReaderPython, "-c",
      "import sys\n"
      "from mutagen.id3 import ID3\n"
      "for path in sys.argv[1:]:\n"
      "    t = ID3(path)\n"
      "    for k in ('TIT2', 'TPE1', 'TALB', 'TRCK'):\n"
      "        print(k + '=' + (str(t[k].text[0]) if k in t else ''))\n"
      "    for p in t.getall('APIC'):\n"
      "        print('APIC=%s %d %s' % (p.mime, p.type, p.data.hex()))\n"
      "    print('--')\n"};
  std::string expected;
  for (const Format& f : kFormats) {
    const std::string copy = scratch / mp3_of(f);
    ASSERT_EQ(run_command({"cp", *mount / mp3_of(f), copy}, kCommandTimeoutMs), 0) << f.stem;
    argv.push_back(copy);
    expected += std::string("TIT2=Song ") + f.stem + "\nTPE1=The Band\nTALB=The Album\nTRCK=3/12\n";
    if (f.cover) expected += "APIC=image/png 3 " + hex(cover) + "\n";
    expected += "--\n";
  }
  std::string output;
  ASSERT_EQ(run_command(argv, kCommandTimeoutMs, &output), 0) << output;
  EXPECT_EQ(output, expected);
}

TEST_F(FfmpegFormatsMounted, SurroundPlaysAsStereo) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(read_all(*mount / "surround.mp3", bytes), 0);
  const DecodedMp3 decoded = decode_mp3(bytes);
  EXPECT_TRUE(decoded.clean());
  EXPECT_EQ(decoded.channels, 2);
  ASSERT_GT(decoded.sample_rate, 0);
  EXPECT_NEAR(static_cast<double>(decoded.frames()) / decoded.sample_rate, kSourceSeconds, 0.12);
}

TEST_F(FfmpegFormatsMounted, DamagedFilesFailWithEioAndTheMountGoesOn) {
  std::vector<std::string> names = {"garbage.mp3"};
  for (const Format& f : kCutKinds) names.push_back("cut-" + mp3_of(f));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    struct stat record = {};
    std::vector<uint8_t> bytes;
    // A damaged header fails the stat, damaged audio the read.
    const int error =
        stat((*mount / name).c_str(), &record) != 0 ? errno : read_all(*mount / name, bytes);
    EXPECT_EQ(error, EIO) << strerror(error);
    ASSERT_EQ(stat((*mount / "wav.mp3").c_str(), &record), 0) << "the mount is gone";
  }
}

TEST_F(FfmpegFormatsMounted, UnknownTypesAndSourcesPassThroughUntouched) {
  EXPECT_EQ(fixtures::read_file(*mount / "voice.ra"), fixtures::read_file(*source / "voice.ra"));
  struct stat record = {};
  EXPECT_NE(stat((*mount / "voice.mp3").c_str(), &record), 0);
  // The sources themselves stay readable under their own names.
  for (const Format& f : kFormats) {
    EXPECT_EQ(fixtures::read_file(*mount / name_of(f)), fixtures::read_file(*source / name_of(f)))
        << f.stem;
  }
}

}  // namespace
