#include "decoders/ffmpeg_decoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

#include "decode_loop.h"
#include "decoders/flac_decoder.h"
#include "decoders/vorbis_decoder.h"
#include "support/log_capture.h"
#include "support/mount.h"
#include "support/recording_encoder.h"
#include "support/settings_guard.h"
#include "support/tool_fixtures.h"

namespace {

using fixtures::AudioSpec;
using fixtures::Tool;

constexpr uint64_t kSourceSamples = 22050;  // half a second at 44.1 kHz

AudioSpec source_spec(unsigned channels = 2, unsigned bits = 16) {
  AudioSpec spec;
  spec.channels = channels;
  spec.bits_per_sample = bits;
  spec.total_samples = kSourceSamples;
  return spec;
}

struct FormatCase {
  const char* name;
  Tool tool;
  const char* extension;
  bool cover;     // the tool embeds one
  int rate;       // of the decoded stream
  int bits;       // passed to encode_samples
  bool lossless;  // decoded samples equal the source's
};

const FormatCase kFormats[] = {
    {"Opus", Tool::Opus, "opus", true, 48000, 32, false},
    {"Opus in .ogg", Tool::Opus, "ogg", true, 48000, 32, false},
    {"WavPack", Tool::WavPack, "wv", true, 44100, 16, true},
    {"ALAC", Tool::Alac, "m4a", true, 44100, 16, true},
    {"AAC", Tool::Aac, "m4a", true, 44100, 32, false},
    {"WAV", Tool::Wav, "wav", false, 44100, 16, true},
    {"AIFF", Tool::Aiff, "aiff", true, 44100, 16, true},
    {"AIFF as .aif", Tool::Aiff, "AIF", true, 44100, 16, true},
    {"TTA", Tool::Tta, "tta", false, 44100, 16, true},
    {"Ogg FLAC", Tool::OggFlac, "oga", false, 44100, 16, true},
};

// The bits_per_sample of the first encode_samples call, as recorded.
std::string first_piece_bits(const RecordingEncoder& recorder) {
  const auto pieces = recorder.calls_named("encode_samples");
  return pieces.empty() ? "" : pieces[0].substr(pieces[0].rfind(' ') + 1);
}

class FfmpegDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.gainmode = 2;
    settings.gainref = 89;
    cover = fixtures::solid_png(8, 8, 0x3366cc);
  }

  // The source encoded by tool into song.<extension>, from a WAV of spec.
  std::string make(Tool tool, const std::string& extension, const AudioSpec& spec,
                   const fixtures::ToolTags& tags = {"Song", "Band", "Record", "3/12"}) {
    const std::string wav = dir / "source.wav";
    EXPECT_TRUE(fixtures::write_wav(wav, spec));
    const std::string path = dir / ("song." + extension);
    EXPECT_TRUE(fixtures::encode_with_tool(tool, wav, path, tags, cover)) << path;
    return path;
  }

  // The decoder the Transcoder would pick for path, opened.
  std::unique_ptr<Decoder> opened(const std::string& path) {
    std::string extension = path.substr(path.rfind('.') + 1);
    auto decoder = make_source_decoder(path, extension);
    EXPECT_NE(decoder, nullptr) << path;
    if (decoder) {
      EXPECT_EQ(decoder->open_source(path.c_str()), 0) << path;
    }
    return decoder;
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
  RecordingEncoder encoder;
  std::vector<uint8_t> cover;
};

TEST_F(FfmpegDecoderTest, EachFormatGivesItsStreamTagsCoverAndAudio) {
  for (const FormatCase& c : kFormats) {
    SCOPED_TRACE(c.name);
    RecordingEncoder recorder;
    auto decoder = opened(make(c.tool, c.extension, source_spec()));
    ASSERT_NE(decoder, nullptr);
    EXPECT_NE(dynamic_cast<FfmpegDecoder*>(decoder.get()), nullptr);

    // Everything the size-only path needs arrives before any audio is decoded.
    ASSERT_EQ(decoder->read_tags(&recorder), 0);
    const uint64_t expected = kSourceSamples * static_cast<uint64_t>(c.rate) / 44100;
    EXPECT_EQ(recorder.total_samples, expected);
    EXPECT_EQ(recorder.sample_rate, c.rate);
    EXPECT_EQ(recorder.channels, 2);
    for (const char* tag : {"add_text_tag 0 Song", "add_text_tag 1 Band", "add_text_tag 2 Record",
                            "add_text_tag 12 3", "add_text_tag 13 12"}) {
      EXPECT_EQ(std::count(recorder.calls.begin(), recorder.calls.end(), tag), 1) << tag;
    }
    if (c.cover) {
      ASSERT_EQ(recorder.pictures.size(), 1u);
      EXPECT_EQ(recorder.pictures[0].mime_type, "image/png");
      EXPECT_EQ(recorder.pictures[0].picture_type, 3);
      EXPECT_EQ(recorder.pictures[0].data, cover);
    } else {
      EXPECT_TRUE(recorder.pictures.empty());
    }
    EXPECT_TRUE(recorder.calls_named("encode_samples").empty());

    const auto results = decode_loop(*decoder, recorder);
    EXPECT_EQ(results.back(), 1);
    EXPECT_EQ(decoder->decode_chunk(&recorder), 1) << "the end is final";
    const uint64_t decoded =
        std::accumulate(recorder.piece_sizes.begin(), recorder.piece_sizes.end(), uint64_t{0});
    // Lossy codecs may keep a frame of padding; none may come up short.
    EXPECT_GE(decoded, expected);
    EXPECT_LE(decoded, expected + (c.lossless ? 0 : 2048));
    EXPECT_EQ(first_piece_bits(recorder), std::to_string(c.bits));
    if (c.lossless) {
      ASSERT_EQ(recorder.pcm[1].size(), kSourceSamples);
      for (uint64_t i = 0; i < kSourceSamples; i += 997) {
        EXPECT_EQ(recorder.pcm[1][i], fixtures::sine_sample(source_spec(), 1, i)) << i;
      }
    }
  }
}

TEST_F(FfmpegDecoderTest, TwentyFourBitSamplesKeepTheirDepth) {
  const AudioSpec spec = source_spec(2, 24);
  auto decoder = opened(make(Tool::Wav, "wav", spec, {}));
  ASSERT_EQ(decoder->read_tags(&encoder), 0);
  EXPECT_EQ(decode_loop(*decoder, encoder).back(), 1);
  EXPECT_EQ(first_piece_bits(encoder), "24");
  ASSERT_EQ(encoder.pcm[0].size(), kSourceSamples);
  for (uint64_t i = 0; i < kSourceSamples; i += 499) {
    EXPECT_EQ(encoder.pcm[0][i], fixtures::sine_sample(spec, 0, i)) << i;
  }
}

TEST_F(FfmpegDecoderTest, MonoStaysMonoAndSurroundIsMixedToStereo) {
  const struct {
    unsigned source_channels;
    int announced;
  } cases[] = {{1, 1}, {2, 2}, {6, 2}, {4, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source_channels);
    RecordingEncoder recorder;
    auto decoder = opened(make(Tool::Alac, "m4a", source_spec(c.source_channels), {}));
    ASSERT_NE(decoder, nullptr);
    ASSERT_EQ(decoder->read_tags(&recorder), 0);
    EXPECT_EQ(recorder.channels, c.announced);
    EXPECT_EQ(decode_loop(*decoder, recorder).back(), 1);
    ASSERT_EQ(recorder.pcm.size(), static_cast<size_t>(c.announced));
    EXPECT_EQ(recorder.pcm[0].size(), kSourceSamples);
    // The mix carries the sound: not silence, and both sides present.
    for (const auto& channel : recorder.pcm) {
      EXPECT_GT(*std::max_element(channel.begin(), channel.end()), 1000);
    }
  }
}

TEST_F(FfmpegDecoderTest, ReplayGainAndContainerSpellingsMapOntoTheTagVocabulary) {
  const std::string wav = dir / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, source_spec()));
  const std::string path = dir / "gain.wv";
  ASSERT_EQ(run_command({"wavpack", "-q", "-y", "-w", "Album Artist=Various", "-w", "Year=1999",
                         "-w", "Disc=2/3", "-w", "Publisher=Label", "-w",
                         "REPLAYGAIN_TRACK_GAIN=-3.5 dB", "-w", "Comment=ignored", wav, "-o", path},
                        60000),
            0);
  auto decoder = opened(path);
  ASSERT_EQ(decoder->read_tags(&encoder), 0);
  for (const char* tag : {"add_text_tag 11 Various", "add_text_tag 4 1999", "add_text_tag 14 2",
                          "add_text_tag 15 3", "add_text_tag 9 Label"}) {
    EXPECT_EQ(std::count(encoder.calls.begin(), encoder.calls.end(), tag), 1) << tag;
  }
  EXPECT_EQ(encoder.calls_named("add_text_tag").size(), 5u);
  ASSERT_EQ(encoder.gains.size(), 1u);
  EXPECT_DOUBLE_EQ(encoder.gains[0], -3.5);
}

// libvorbisfile and libFLAC keep plain Vorbis and FLAC; FFmpeg takes the other Ogg streams,
// every source of more than two channels (its one downmix serves them all) and an Ogg name
// on something else, whose content it probes.
TEST_F(FfmpegDecoderTest, SourcesGoToTheDecoderOfWhatTheyHold) {
  AudioSpec surround = source_spec(6);
  surround.total_samples = 4410;
  ASSERT_TRUE(fixtures::write_vorbis(dir / "vorbis.ogg", source_spec()));
  ASSERT_TRUE(fixtures::write_vorbis(dir / "surround.ogg", surround));
  ASSERT_TRUE(fixtures::write_flac(dir / "stereo.flac", source_spec()));
  ASSERT_TRUE(fixtures::write_flac(dir / "surround.flac", surround));
  ASSERT_TRUE(fixtures::write_file(dir / "junk.ogg", {'n', 'o', 't', ' ', 'o', 'g', 'g'}));
  const std::string flac = make(Tool::OggFlac, "oga", source_spec(), {});
  const std::string opus = make(Tool::Opus, "ogg", source_spec(), {});
  enum Kind { Vorbis, Flac, Ffmpeg };
  const struct {
    std::string path;
    Kind kind;
  } cases[] = {{dir / "vorbis.ogg", Vorbis},
               {dir / "surround.ogg", Ffmpeg},
               {dir / "stereo.flac", Flac},
               {dir / "surround.flac", Ffmpeg},
               {dir / "junk.ogg", Ffmpeg},
               {flac, Ffmpeg},
               {opus, Ffmpeg}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string extension = c.path.substr(c.path.rfind('.') + 1);
    auto decoder = make_source_decoder(c.path, extension);
    EXPECT_EQ(dynamic_cast<VorbisDecoder*>(decoder.get()) != nullptr, c.kind == Vorbis);
    EXPECT_EQ(dynamic_cast<FlacDecoder*>(decoder.get()) != nullptr, c.kind == Flac);
    EXPECT_EQ(dynamic_cast<FfmpegDecoder*>(decoder.get()) != nullptr, c.kind == Ffmpeg);
  }
}

// A decoder that cannot open its file gives way to one for what the content is; what is no
// audio at all, a missing file and a refused one give none.
TEST_F(FfmpegDecoderTest, OpeningFallsBackToTheContent) {
  AudioSpec spec = source_spec();
  spec.total_samples = 4410;
  ASSERT_TRUE(fixtures::write_wav(dir / "wave.flac", spec));
  ASSERT_TRUE(fixtures::write_flac(dir / "flac.wv", spec));
  ASSERT_TRUE(fixtures::write_file(dir / "words.flac", {'w', 'o', 'r', 'd', 's', '\n'}));
  const struct {
    const char* name;
    bool opens;
  } cases[] = {{"wave.flac", true}, {"flac.wv", true}, {"words.flac", false}, {"gone.flac", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    std::string extension = path.substr(path.rfind('.') + 1);
    auto decoder = open_source_decoder(make_source_decoder(path, extension), path);
    ASSERT_EQ(decoder != nullptr, c.opens);
    if (!decoder) continue;
    RecordingEncoder target;
    ASSERT_EQ(decoder->read_tags(&target), 0);
    EXPECT_EQ(decode_loop(*decoder, target).back(), 1);
    EXPECT_EQ(target.pcm.at(0).size(), spec.total_samples);
  }
}

// Damage at three depths: no container at all, a header cut short, and audio
// cut short (found in a partial packet, or at the end against the promised length).
TEST_F(FfmpegDecoderTest, DamagedInputFailsAndSaysSoInTheLog) {
  const struct {
    const char* name;
    Tool tool;
    const char* extension;
    // FFmpeg measures WAV data and Ogg pages by what the file holds, so a cut
    // between whole frames leaves a shorter but sound stream there.
    bool clean_cut_fails;
  } kinds[] = {
      {"Opus", Tool::Opus, "opus", true},        {"WavPack", Tool::WavPack, "wv", true},
      {"ALAC", Tool::Alac, "m4a", true},         {"WAV", Tool::Wav, "wav", false},
      {"AIFF", Tool::Aiff, "aiff", true},        {"TTA", Tool::Tta, "tta", true},
      {"Ogg FLAC", Tool::OggFlac, "oga", false},
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::string whole = make(kind.tool, kind.extension, source_spec(), {});
    const auto bytes = fixtures::read_file(whole);
    ASSERT_GT(bytes.size(), 5000u);
    // An odd length cuts inside a frame; 4000 bytes off the end of PCM leaves whole frames.
    std::vector<size_t> cuts = {0, 20, bytes.size() / 2 | 1};
    if (kind.clean_cut_fails) cuts.push_back(bytes.size() - 4000);
    for (size_t keep : cuts) {
      SCOPED_TRACE(keep);
      const std::string path = dir / ("cut." + std::string(kind.extension));
      ASSERT_TRUE(fixtures::write_file(
          path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep))));
      LogCapture log(Logging::ERROR);
      RecordingEncoder recorder;
      std::string extension = kind.extension;
      // Opened as a source is: a header that fails is probed for other content first.
      auto decoder = open_source_decoder(make_source_decoder(path, extension), path);
      const bool failed = !decoder || decoder->read_tags(&recorder) == -1 ||
                          decode_loop(*decoder, recorder).back() == -1;
      EXPECT_TRUE(failed);
      EXPECT_TRUE(log.contains("decoder: ")) << log.text();
      // A failed stream stays failed: a later read must not pass it off as ended.
      if (decoder && failed) {
        EXPECT_NE(decoder->decode_chunk(&recorder), 1);
      }
    }
  }
}

TEST_F(FfmpegDecoderTest, MonkeysAudioGarbageFailsToOpen) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {},
      {'M', 'A', 'C', ' ', 0x96, 0x0f, 0, 0},
      std::vector<uint8_t>(4096, 0x5a),
  };
  for (const auto& input : inputs) {
    ASSERT_TRUE(fixtures::write_file(dir / "bad.ape", input));
    std::string extension = "APE";
    auto decoder = make_decoder(extension);
    ASSERT_NE(dynamic_cast<FfmpegDecoder*>(decoder.get()), nullptr);
    EXPECT_EQ(decoder->open_source((dir / "bad.ape").c_str()), -1);
    EXPECT_EQ(decoder->read_tags(&encoder), -1);
    EXPECT_EQ(decoder->decode_chunk(&encoder), -1);
    // The content probe finds nothing either, and that is an error.
    LogCapture log(Logging::ERROR);
    EXPECT_EQ(open_source_decoder(make_decoder(extension), dir / "bad.ape"), nullptr);
    EXPECT_TRUE(log.contains("ERROR: FFmpeg decoder: Open failed.")) << log.text();
  }
}

TEST_F(FfmpegDecoderTest, MissingFileFailsAndRecordsNoTime) {
  FfmpegDecoder decoder("wav");
  EXPECT_EQ(decoder.open_source((dir / "absent.wav").c_str()), -1);
  EXPECT_EQ(decoder.source_mtime(), 0);
}

}  // namespace
