#include "decoders/vorbis_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "decode_loop.h"
#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/recording_encoder.h"
#include "support/settings_guard.h"

namespace {

using fixtures::AudioSpec;

AudioSpec short_spec(unsigned channels) {
  AudioSpec spec;
  spec.channels = channels;
  spec.total_samples = 20000;
  return spec;
}

std::string picture_comment(const fixtures::Picture& picture) {
  return "METADATA_BLOCK_PICTURE=" + fixtures::base64(fixtures::picture_block(picture));
}

fixtures::Picture cover() {
  fixtures::Picture p;
  p.mime_type = "image/jpeg";
  p.type = 3;
  p.description = "Cover";
  p.data = {0xff, 0xd8, 0x01, 0x02, 0xff, 0xd9};
  return p;
}

class VorbisDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.gainmode = 2;
    settings.gainref = 89;
  }

  std::string write(const AudioSpec& spec, const fixtures::Comments& comments = {}) {
    std::string path = dir / "song.ogg";
    EXPECT_TRUE(fixtures::write_vorbis(path, spec, comments));
    return path;
  }

  // A decoder whose open_source succeeded on path.
  std::unique_ptr<VorbisDecoder> opened(const std::string& path) {
    auto decoder = std::make_unique<VorbisDecoder>();
    EXPECT_EQ(decoder->open_source(path.c_str()), 0);
    return decoder;
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
  RecordingEncoder encoder;
};

TEST_F(VorbisDecoderTest, BeginsTheStreamThenPassesCommentsPicturesAndGain) {
  std::string path = write(
      short_spec(2), {"title=Song", "Title=Song", "TITLE=Song", "noequals", "=starts with equals",
                      "album artist=Band", "replaygain_track_gain=-3.20 dB",
                      picture_comment(cover()), "COMMENT=ignored"});
  auto decoder = opened(path);
  ASSERT_EQ(decoder->read_tags(&encoder), 0);
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{
                               "begin_stream 20000 44100 2",
                               "add_text_tag 0 Song",
                               "add_text_tag 0 Song",
                               "add_text_tag 0 Song",
                               "add_text_tag 11 Band",
                               "add_picture image/jpeg 3 Cover 6",
                               "apply_gain -3.2",
                           }));
  EXPECT_EQ(encoder.pictures.at(0).data, cover().data);
}

TEST_F(VorbisDecoderTest, AMalformedPictureBlockIsSkipped) {
  std::string path = write(short_spec(1), {"METADATA_BLOCK_PICTURE=", "TITLE=After"});
  auto decoder = opened(path);
  LogCapture log;
  ASSERT_EQ(decoder->read_tags(&encoder), 0);
  EXPECT_TRUE(log.contains("ERROR: Couldn't decode picture data as valid data."));
  EXPECT_EQ(encoder.calls_named("add_text_tag"), std::vector<std::string>{"add_text_tag 0 After"});
}

TEST_F(VorbisDecoderTest, InvalidPictureBase64CostsOnlyThePicture) {
  std::string bad = picture_comment(cover());
  bad.insert(40, "\n");
  std::string path =
      write(short_spec(2), {"TITLE=Before", "REPLAYGAIN_TRACK_GAIN=-1", bad, "ARTIST=After"});
  auto decoder = opened(path);
  LogCapture log;
  ASSERT_EQ(decoder->read_tags(&encoder), 0);
  EXPECT_TRUE(log.contains("ERROR: Failed to decode METADATA_BLOCK_PICTURE"));
  EXPECT_EQ(encoder.calls,
            (std::vector<std::string>{"begin_stream 20000 44100 2", "add_text_tag 0 Before",
                                      "add_text_tag 1 After", "apply_gain -1"}));
  EXPECT_EQ(decode_loop(*decoder, encoder).back(), 1);
}

TEST_F(VorbisDecoderTest, SplitsPiecesPerChannelAndMatchesTheSine) {
  for (unsigned channels : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    AudioSpec spec = short_spec(channels);
    std::string path = write(spec);
    RecordingEncoder target;
    auto decoder = opened(path);
    ASSERT_EQ(decoder->read_tags(&target), 0);
    LogCapture log;
    std::vector<int> results = decode_loop(*decoder, target);
    ASSERT_EQ(results.back(), 1);
    EXPECT_TRUE(log.contains("DEBUG: Ogg Vorbis decoder: Reached end of file."));
    const int most = 2048 / static_cast<int>(channels);
    int full_pieces = 0;
    for (int size : target.piece_sizes) {
      EXPECT_GT(size, 0);
      EXPECT_LE(size, most);
      full_pieces += size == most;
    }
    // A stereo packet outgrows 4096 bytes and is cut; a mono one of this encoder never does.
    if (channels == 2) {
      EXPECT_GT(full_pieces, 0);
    }
    for (const std::string& call : target.calls_named("encode_samples")) {
      EXPECT_EQ(call.substr(call.rfind(' ') + 1), "16");
    }
    ASSERT_EQ(target.pcm.size(), channels);
    for (unsigned c = 0; c < channels; ++c) {
      ASSERT_EQ(target.pcm[c].size(), spec.total_samples);
      // Lossy: compare the error's energy with the signal's.
      double error = 0, signal = 0;
      for (uint64_t i = 0; i < spec.total_samples; ++i) {
        double expected = fixtures::sine_sample(spec, c, i);
        error += std::pow(target.pcm[c][i] - expected, 2);
        signal += expected * expected;
      }
      EXPECT_LT(error, signal * 0.01) << "channel " << c;
    }
    EXPECT_EQ(decoder->decode_chunk(&target), 1);
  }
}

TEST_F(VorbisDecoderTest, SixChannelsOpenButAreRefused) {
  std::string path = write(short_spec(6));
  auto decoder = opened(path);
  LogCapture log;
  EXPECT_EQ(decoder->read_tags(&encoder), -1);
  EXPECT_TRUE(
      log.contains("ERROR: Ogg Vorbis decoder: Only mono/stereo audio currently supported."));
  EXPECT_TRUE(encoder.calls.empty());
}

TEST_F(VorbisDecoderTest, RefusalsByTheEncoderAreFailures) {
  std::string path = write(short_spec(2), {"TITLE=x"});
  {
    RecordingEncoder target;
    target.begin_stream_result = -1;
    auto decoder = opened(path);
    LogCapture log;
    EXPECT_EQ(decoder->read_tags(&target), -1);
    EXPECT_TRUE(
        log.contains("ERROR: Ogg Vorbis decoder: Failed to set encoder stream parameters."));
    EXPECT_EQ(target.calls.size(), 1u);
  }
  {
    RecordingEncoder target;
    target.fail_encode_from = 0;
    auto decoder = opened(path);
    ASSERT_EQ(decoder->read_tags(&target), 0);
    LogCapture log;
    EXPECT_EQ(decoder->decode_chunk(&target), -1);
    EXPECT_TRUE(log.contains("ERROR: Ogg Vorbis decoder: Failed to encode integer buffer."));
  }
}

TEST_F(VorbisDecoderTest, SourcesThatAreNotOggVorbisFailToOpen) {
  ASSERT_TRUE(fixtures::write_flac(dir / "x.flac", short_spec(2)));
  const std::string text = "plain text\n";
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> sources = {
      {"empty", {}},
      {"flac", fixtures::read_file(dir / "x.flac")},
      {"text", std::vector<uint8_t>(text.begin(), text.end())},
      {"capture pattern only", {'O', 'g', 'g', 'S'}},
  };
  for (const auto& [name, bytes] : sources) {
    SCOPED_TRACE(name);
    std::string path = dir / "bad.ogg";
    ASSERT_TRUE(fixtures::write_file(path, bytes));
    LogCapture log;
    {
      VorbisDecoder decoder;
      EXPECT_EQ(decoder.open_source(path.c_str()), -1);
    }
    EXPECT_TRUE(log.contains("ERROR: Ogg Vorbis decoder: Initialization failed."));
    EXPECT_TRUE(log.contains("DEBUG: Ogg Vorbis decoder: Closed."));
  }
}

TEST_F(VorbisDecoderTest, AMissingFileFailsToOpen) {
  LogCapture log;
  VorbisDecoder decoder;
  EXPECT_EQ(decoder.open_source((dir / "absent.ogg").c_str()), -1);
  EXPECT_TRUE(log.contains("ERROR: Ogg Vorbis decoder: fopen failed."));
}

TEST_F(VorbisDecoderTest, AnUnopenedDecoderIsDestroyedSafely) {
  LogCapture log;
  { VorbisDecoder decoder; }
  EXPECT_TRUE(log.contains("DEBUG: Ogg Vorbis decoder: Closed."));
}

void survive(const std::string& path) {
  RecordingEncoder target;
  VorbisDecoder decoder;
  if (decoder.open_source(path.c_str()) != 0 || decoder.read_tags(&target) != 0) return;
  // A failed chunk leaves the decoder streaming; the next read tries again, as here.
  int calls = 0, last = 0;
  for (; calls < 10000; ++calls) {
    last = decoder.decode_chunk(&target);
    if (last == 1) break;
  }
  EXPECT_EQ(last, 1) << "decoding did not end";
}

TEST_F(VorbisDecoderTest, CutAndFlippedFilesEndWithoutHarm) {
  const std::string good = write(short_spec(2), {"TITLE=Song", picture_comment(cover())});
  const std::vector<uint8_t> bytes = fixtures::read_file(good);
  const std::string path = dir / "damaged.ogg";
  for (size_t cut :
       {size_t{10}, size_t{58}, size_t{100}, size_t{300}, bytes.size() / 2, bytes.size() - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ASSERT_TRUE(fixtures::write_file(path, {bytes.begin(), bytes.begin() + cut}));
    LogCapture log;
    survive(path);
  }
  for (size_t at : {size_t{30}, size_t{70}, size_t{150}, bytes.size() / 3, bytes.size() / 2,
                    bytes.size() - 20}) {
    SCOPED_TRACE("flipped at " + std::to_string(at));
    std::vector<uint8_t> flipped = bytes;
    for (size_t i = at; i < std::min(at + 4, flipped.size()); ++i) flipped[i] ^= 0x5A;
    ASSERT_TRUE(fixtures::write_file(path, flipped));
    LogCapture log;
    survive(path);
  }
}

}  // namespace
