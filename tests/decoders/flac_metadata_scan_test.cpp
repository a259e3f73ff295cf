// The direct scan of FLAC metadata that the measuring path uses, held against libFLAC's
// reading of the same files: the same calls into the encoder, bar the picture bytes.
#include "decoders/flac_metadata_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/flac_decoder.h"
#include "support/fixtures.h"
#include "support/recording_encoder.h"

namespace {

struct Reading {
  int result = 0;
  std::vector<std::string> calls;
};

Reading read_tags(const std::string& path, bool measuring) {
  FlacDecoder decoder;
  RecordingEncoder encoder;
  if (decoder.open_source(path.c_str()) != 0) return {-2, {}};
  if (measuring) decoder.measure_only();
  const int result = decoder.read_tags(&encoder);
  return {result, encoder.calls};
}

ScanResult scan(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return ScanResult::Failed;
  RecordingEncoder encoder;
  const ScanResult result = scan_flac_metadata(file, encoder);
  std::fclose(file);
  return result;
}

std::vector<uint8_t> with_prefix(std::vector<uint8_t> prefix, const std::vector<uint8_t>& rest) {
  prefix.insert(prefix.end(), rest.begin(), rest.end());
  return prefix;
}

TEST(FlacMetadataScan, MakesTheCallsLibFlacReadingMakes) {
  fixtures::TempDir dir;
  fixtures::AudioSpec spec;
  spec.total_samples = 5000;
  fixtures::Picture front;
  front.data = fixtures::solid_png(10, 10, 0x112233);
  front.description = "Vorderseite";
  fixtures::Picture back;
  back.type = 4;
  back.mime_type = "image/jpeg";
  back.data = std::vector<uint8_t>(70000, 0xFF);
  fixtures::Picture empty;
  empty.mime_type = "";
  fixtures::Picture wordy = front;  // its texts do not fit the first small read
  wordy.description = std::string(6000, 'w');
  const struct {
    const char* name;
    fixtures::Comments comments;
    std::vector<fixtures::Picture> pictures;
    unsigned channels;
    unsigned rate;
    ScanResult scanned;
  } cases[] = {
      {"tags and pictures",
       {"TITLE=T", "ARTIST=A", "TRACKNUMBER=2", "REPLAYGAIN_TRACK_GAIN=-2 dB"},
       {front, back},
       2,
       44100,
       ScanResult::Done},
      {"odd comments",
       {"NOEQUALS", "=empty name", "title=lower", "DATE="},
       {},
       1,
       8000,
       ScanResult::Done},
      {"picture without data", {}, {empty}, 2, 96000, ScanResult::Done},
      {"long description", {"TITLE=x"}, {wordy, back}, 2, 48000, ScanResult::Done},
      {"three channels", {"TITLE=x"}, {}, 3, 44100, ScanResult::Done},
  };
  for (const auto& c : cases) {
    fixtures::AudioSpec s = spec;
    s.channels = c.channels;
    s.sample_rate = c.rate;
    const std::string path = dir / (std::string(c.name) + ".flac");
    ASSERT_TRUE(fixtures::write_flac(path, s, c.comments, c.pictures)) << c.name;
    EXPECT_EQ(scan(path), c.scanned) << c.name;
    const Reading full = read_tags(path, false);
    const Reading measured = read_tags(path, true);
    EXPECT_EQ(measured.result, full.result) << c.name;
    EXPECT_EQ(measured.calls, full.calls) << c.name;
  }
}

TEST(FlacMetadataScan, LeavesUnusualLayoutsToLibFlac) {
  fixtures::TempDir dir;
  fixtures::AudioSpec spec;
  spec.total_samples = 5000;
  fixtures::Picture cover;
  cover.data = std::vector<uint8_t>(5000, 7);
  ASSERT_TRUE(fixtures::write_flac(dir / "plain.flac", spec, {"TITLE=Plain"}, {cover}));
  const std::vector<uint8_t> plain = fixtures::read_file(dir / "plain.flac");
  // An ID3v2 tag in front (libFLAC skips it), and a file cut inside its cover.
  const std::vector<uint8_t> id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 3, 0, 0, 0};
  ASSERT_TRUE(fixtures::write_file(dir / "id3.flac", with_prefix(id3, plain)));
  ASSERT_TRUE(fixtures::write_file(
      dir / "cut.flac", std::vector<uint8_t>(plain.begin(), plain.begin() + plain.size() / 2)));
  for (const char* name : {"id3.flac", "cut.flac"}) {
    EXPECT_EQ(scan(dir / name), ScanResult::NotHandled) << name;
    const Reading full = read_tags(dir / name, false);
    const Reading measured = read_tags(dir / name, true);
    EXPECT_EQ(measured.result, full.result) << name;
    EXPECT_EQ(measured.calls, full.calls) << name;
  }
}

}  // namespace
