#include "decoders/flac_decoder.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include "decode_loop.h"
#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/recording_encoder.h"
#include "support/settings_guard.h"

namespace {

using fixtures::AudioSpec;

AudioSpec short_spec(unsigned channels = 2, unsigned bits = 16, unsigned rate = 44100) {
  AudioSpec spec;
  spec.channels = channels;
  spec.bits_per_sample = bits;
  spec.sample_rate = rate;
  spec.total_samples = 10000;  // a few frames of 4096
  return spec;
}

fixtures::Picture picture(int type, const std::string& description, uint32_t rgb) {
  fixtures::Picture p;
  p.type = type;
  p.description = description;
  p.data = fixtures::solid_png(2, 2, rgb);
  return p;
}

class FlacDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.gainmode = 1;
    settings.gainref = 89;
  }

  std::string write(const AudioSpec& spec, const fixtures::Comments& comments = {},
                    const std::vector<fixtures::Picture>& pictures = {}) {
    std::string path = dir / "song.flac";
    EXPECT_TRUE(fixtures::write_flac(path, spec, comments, pictures));
    return path;
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
  RecordingEncoder encoder;
};

TEST_F(FlacDecoderTest, DeliversTagsPicturesAndGainBeforeBeginStream) {
  fixtures::Picture front = picture(3, "Front", 0xff0000);
  fixtures::Picture back = picture(4, "Back", 0x00ff00);
  std::string path = write(short_spec(),
                           {"title=Song", "ALBUM ARTIST=Band", "replaygain_album_gain=-4.20 dB",
                            "noequals", "=empty", "ALBUM_ARTIST=ignored", "Artist=A"},
                           {front, back});
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  ASSERT_EQ(decoder.read_tags(&encoder), 0);
  const std::string front_size = std::to_string(front.data.size());
  const std::string back_size = std::to_string(back.data.size());
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{
                               "add_text_tag 0 Song",
                               "add_text_tag 11 Band",
                               "add_text_tag 1 A",
                               "apply_gain -4.2",
                               "add_picture image/png 3 Front " + front_size,
                               "add_picture image/png 4 Back " + back_size,
                               "begin_stream 10000 44100 2",
                           }));
  ASSERT_EQ(encoder.pictures.size(), 2u);
  EXPECT_EQ(encoder.pictures[0].data, front.data);
  EXPECT_EQ(encoder.pictures[1].data, back.data);
}

TEST_F(FlacDecoderTest, WithoutCommentsNoTagsAndNoGain) {
  std::string path = write(short_spec(1, 16, 22050));
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  ASSERT_EQ(decoder.read_tags(&encoder), 0);
  EXPECT_EQ(encoder.calls, std::vector<std::string>{"begin_stream 10000 22050 1"});
}

TEST_F(FlacDecoderTest, ReportsTheSourceModificationTime) {
  std::string path = write(short_spec());
  const struct timeval times[2] = {{1234567890, 0}, {1234567890, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
  FlacDecoder decoder;
  EXPECT_EQ(decoder.source_mtime(), 0);
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  EXPECT_EQ(decoder.source_mtime(), 1234567890);
}

TEST_F(FlacDecoderTest, UnstatedLengthIsPassedOnAsZero) {
  std::string path = write(short_spec());
  std::vector<uint8_t> bytes = fixtures::read_file(path);
  // STREAMINFO's 36-bit sample count: low nibble of byte 21 and bytes 22 to 25.
  bytes[21] &= 0xF0;
  for (int i = 22; i < 26; ++i) bytes[i] = 0;
  ASSERT_TRUE(fixtures::write_file(path, bytes));
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  ASSERT_EQ(decoder.read_tags(&encoder), 0);
  EXPECT_EQ(encoder.calls_named("begin_stream"),
            std::vector<std::string>{"begin_stream 0 44100 2"});
}

struct FormatCase {
  unsigned channels, bits, rate;
};

TEST_F(FlacDecoderTest, DecodesEveryFrameToTheSynthesizedSamples) {
  for (const FormatCase& c : {FormatCase{2, 16, 44100}, FormatCase{1, 24, 48000},
                              FormatCase{6, 8, 8000}, FormatCase{2, 20, 96000}}) {
    SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.bits) + " bit");
    AudioSpec spec = short_spec(c.channels, c.bits, c.rate);
    std::string path = write(spec);
    RecordingEncoder target;
    FlacDecoder decoder;
    ASSERT_EQ(decoder.open_source(path.c_str()), 0);
    ASSERT_EQ(decoder.read_tags(&target), 0);
    std::vector<int> results = decode_loop(decoder, target);
    // One frame per call; the call that meets the end still succeeds, the next says so.
    ASSERT_EQ(results.back(), 1);
    EXPECT_EQ(results.size(), target.piece_sizes.size() + 2);
    for (const std::string& call : target.calls_named("encode_samples")) {
      EXPECT_EQ(call.substr(call.rfind(' ') + 1), std::to_string(c.bits));
    }
    ASSERT_EQ(target.pcm.size(), c.channels);
    for (unsigned ch = 0; ch < c.channels; ++ch) {
      ASSERT_EQ(target.pcm[ch].size(), spec.total_samples);
      for (uint64_t i = 0; i < spec.total_samples; ++i) {
        ASSERT_EQ(target.pcm[ch][i], fixtures::sine_sample(spec, ch, i)) << ch << " " << i;
      }
    }
    EXPECT_EQ(decoder.decode_chunk(&target), 1);
  }
}

TEST_F(FlacDecoderTest, RefusedSamplesFailTheChunkAndEndTheStream) {
  std::string path = write(short_spec());
  encoder.fail_encode_from = 1;
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  ASSERT_EQ(decoder.read_tags(&encoder), 0);
  LogCapture log;
  EXPECT_EQ(decoder.decode_chunk(&encoder), 0);
  EXPECT_EQ(decoder.decode_chunk(&encoder), -1);
  EXPECT_TRUE(log.contains("ERROR: Error reading FLAC."));
  EXPECT_EQ(decoder.decode_chunk(&encoder), 1);
}

TEST_F(FlacDecoderTest, RefusedStreamParametersFailTheTagReading) {
  std::string path = write(short_spec());
  encoder.begin_stream_result = -1;
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  LogCapture log;
  EXPECT_EQ(decoder.read_tags(&encoder), -1);
  EXPECT_FALSE(log.contains("FLAC is invalid."));
}

TEST_F(FlacDecoderTest, AMissingFileFailsToOpen) {
  LogCapture log;
  FlacDecoder decoder;
  EXPECT_EQ(decoder.open_source((dir / "absent.flac").c_str()), -1);
  EXPECT_TRUE(log.contains("ERROR: FLAC fopen failed."));
}

// Content of another kind fails at once, so that it can be read for what it is; a FLAC
// header with nothing behind it fails when the metadata is read.
TEST_F(FlacDecoderTest, SourcesThatAreNotFlacAreInvalid) {
  ASSERT_TRUE(fixtures::write_vorbis(dir / "ogg.ogg", short_spec()));
  const std::vector<uint8_t> ogg = fixtures::read_file(dir / "ogg.ogg");
  const std::string text = "just some text, not audio\n";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool opens;
  } sources[] = {
      {"empty", {}, false},
      {"ogg vorbis", ogg, false},
      {"text", std::vector<uint8_t>(text.begin(), text.end()), false},
      {"magic only", {'f', 'L', 'a', 'C'}, true},
  };
  for (const auto& c : sources) {
    SCOPED_TRACE(c.name);
    std::string path = dir / "bad.flac";
    ASSERT_TRUE(fixtures::write_file(path, c.bytes));
    LogCapture log;
    RecordingEncoder target;
    FlacDecoder decoder;
    if (!c.opens) {
      EXPECT_EQ(decoder.open_source(path.c_str()), -1);
      EXPECT_FALSE(log.contains("ERROR")) << log.text();
      continue;
    }
    ASSERT_EQ(decoder.open_source(path.c_str()), 0);
    EXPECT_EQ(decoder.read_tags(&target), -1);
    EXPECT_TRUE(log.contains("ERROR: FLAC is invalid."));
    EXPECT_TRUE(target.calls_named("begin_stream").empty());
    EXPECT_EQ(decoder.decode_chunk(&target), 1);
  }
}

// Runs a damaged file through the whole decoder, as the Transcoder would; must end in bounds.
void survive(const std::string& path) {
  RecordingEncoder target;
  FlacDecoder decoder;
  if (decoder.open_source(path.c_str()) != 0 || decoder.read_tags(&target) != 0) return;
  std::vector<int> results = decode_loop(decoder, target);
  ASSERT_NE(results.back(), 0) << "decoding did not end";
}

TEST_F(FlacDecoderTest, CutAndFlippedFilesEndWithoutHarm) {
  const std::string good = write(short_spec(), {"TITLE=Song"}, {picture(3, "", 0x123456)});
  const std::vector<uint8_t> bytes = fixtures::read_file(good);
  const std::string path = dir / "damaged.flac";
  for (size_t cut : {size_t{5}, size_t{20}, size_t{42}, size_t{60}, size_t{120}, bytes.size() / 2,
                     bytes.size() - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ASSERT_TRUE(fixtures::write_file(path, {bytes.begin(), bytes.begin() + cut}));
    LogCapture log;
    survive(path);
  }
  for (size_t at :
       {size_t{9}, size_t{30}, size_t{45}, bytes.size() / 3, bytes.size() / 2, bytes.size() - 10}) {
    SCOPED_TRACE("flipped at " + std::to_string(at));
    std::vector<uint8_t> flipped = bytes;
    for (size_t i = at; i < std::min(at + 4, flipped.size()); ++i) flipped[i] ^= 0xA5;
    ASSERT_TRUE(fixtures::write_file(path, flipped));
    LogCapture log;
    survive(path);
  }
}

TEST_F(FlacDecoderTest, StreamErrorsAreLoggedAndDecodingGoesOn) {
  const std::string path = write(short_spec());
  std::vector<uint8_t> bytes = fixtures::read_file(path);
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 8; ++i) bytes[i] ^= 0xFF;
  ASSERT_TRUE(fixtures::write_file(path, bytes));
  LogCapture log;
  FlacDecoder decoder;
  ASSERT_EQ(decoder.open_source(path.c_str()), 0);
  ASSERT_EQ(decoder.read_tags(&encoder), 0);
  std::vector<int> results = decode_loop(decoder, encoder);
  EXPECT_EQ(results.back(), 1);
  EXPECT_TRUE(log.contains("ERROR: FLAC error: FLAC__STREAM_DECODER_ERROR_STATUS_")) << log.text();
  EXPECT_FALSE(encoder.piece_sizes.empty());
}

}  // namespace
