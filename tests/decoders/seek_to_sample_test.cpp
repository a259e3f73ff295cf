// Every decoder, after seek_to_sample(n), delivers what a full decode delivers from sample n
// on: exactly for lossless formats, within the codec's own convergence for lossy ones.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "decode_loop.h"
#include "decoders/decoder.h"
#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/mount.h"
#include "support/recording_encoder.h"
#include "support/tool_fixtures.h"

namespace {

using fixtures::AudioSpec;
using fixtures::Tool;
using Pcm = std::vector<std::vector<int32_t>>;

constexpr uint64_t kSourceSamples = 4 * 44100;
constexpr size_t kWindow = 1152;

AudioSpec source_spec() {
  AudioSpec spec;
  spec.total_samples = kSourceSamples;
  spec.frequency = 331.0;
  return spec;
}

// Writes the source into path from the WAV at wav; false when the encoder fails.
using Maker = std::function<bool(const std::string& wav, const std::string& path)>;

Maker with_tool(Tool tool) {
  return [tool](const std::string& wav, const std::string& path) {
    return fixtures::encode_with_tool(tool, wav, path, {"Song", "Band", "Record", "1"});
  };
}

Maker with_flac(std::vector<std::string> options) {
  return [options](const std::string& wav, const std::string& path) {
    std::vector<std::string> argv = {"flac", "--silent", "--force"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-o", path, wav});
    return run_command(argv, 60000) == 0;
  };
}

// A FLAC stream written to a pipe: its header cannot tell the length, and it has no seek table.
bool streamed_flac(const std::string& wav, const std::string& path) {
  const std::string command = "ffmpeg -nostdin -loglevel error -i '" + wav +
                              "' -f s16le - | flac --silent --force-raw-format --endian=little "
                              "--sign=signed --channels=2 --bps=16 --sample-rate=44100 -c - > '" +
                              path + "'";
  return run_command({"sh", "-c", command}, 60000) == 0;
}

struct SeekCase {
  const char* name;
  const char* extension;
  Maker make;
  // Worst window of error energy against the full decode, relative to the full decode's
  // energy in that window, in dB; absent (0) for lossless formats, which must match exactly.
  double worst_db;
};

const SeekCase kCases[] = {
    {"FLAC with a seek table", "flac", with_flac({"-S", "1s"}), 0},
    {"FLAC without a seek table", "flac", with_flac({"--no-seektable"}), 0},
    {"FLAC of unknown length", "flac", streamed_flac, 0},
    {"Ogg Vorbis", "ogg",
     [](const std::string&, const std::string& path) {
       return fixtures::write_vorbis(path, source_spec());
     },
     -60},
    {"Opus", "opus", with_tool(Tool::Opus), -50},
    {"WavPack", "wv", with_tool(Tool::WavPack), 0},
    {"ALAC", "m4a", with_tool(Tool::Alac), 0},
    {"AAC", "m4a", with_tool(Tool::Aac), -45},
    {"TTA", "tta", with_tool(Tool::Tta), 0},
    {"WAV", "wav", with_tool(Tool::Wav), 0},
    {"AIFF", "aiff", with_tool(Tool::Aiff), 0},
    {"Ogg FLAC", "oga", with_tool(Tool::OggFlac), 0},
};

// The decoder the Transcoder would pick for path, opened and past read_tags.
std::unique_ptr<Decoder> ready(const std::string& path, RecordingEncoder& recorder,
                               bool measuring) {
  std::string extension = path.substr(path.rfind('.') + 1);
  auto decoder = make_source_decoder(path, extension);
  if (!decoder || decoder->open_source(path.c_str()) != 0) return nullptr;
  if (measuring) decoder->measure_only();
  if (decoder->read_tags(&recorder) != 0) return nullptr;
  return decoder;
}

// The worst window's mean error energy against the reference, in dB relative to the
// reference's mean energy over the whole stream (-inf when equal). Relative to the whole
// stream, not to the window, so that a quiet tail does not magnify a rounding difference.
double worst_window_db(const Pcm& reference, const Pcm& decoded, uint64_t from) {
  double worst = -INFINITY;
  for (size_t c = 0; c < decoded.size(); ++c) {
    double power = 0;
    for (int32_t value : reference[c]) power += static_cast<double>(value) * value;
    power = std::max(power / static_cast<double>(reference[c].size()), 1.0);
    for (size_t start = 0; start < decoded[c].size(); start += kWindow) {
      const size_t end = std::min(decoded[c].size(), start + kWindow);
      double error = 0;
      for (size_t i = start; i < end; ++i) {
        const double diff = static_cast<double>(decoded[c][i]) - reference[c][from + i];
        error += diff * diff;
      }
      error /= static_cast<double>(end - start);
      if (error > 0) worst = std::max(worst, 10 * std::log10(error / power));
    }
  }
  return worst;
}

class SeekToSampleTest : public ::testing::Test {
 protected:
  fixtures::TempDir dir;
};

TEST_F(SeekToSampleTest, EachFormatDeliversTheFullDecodeFromTheTarget) {
  const std::string wav = dir / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, source_spec()));
  for (const SeekCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / (std::string("song.") + c.extension);
    ASSERT_TRUE(c.make(wav, path));

    RecordingEncoder full;
    auto decoder = ready(path, full, false);
    ASSERT_NE(decoder, nullptr);
    ASSERT_EQ(decode_loop(*decoder, full).back(), 1);
    const uint64_t decoded = full.pcm[0].size();
    // Lossy codecs may decode a little padding past the length the header tells.
    const uint64_t total = full.total_samples ? full.total_samples : decoded;
    ASSERT_GT(total, 0u);

    // The start, inside the first frame, mid-file, the last sample, the end, past it.
    for (uint64_t target :
         {uint64_t{0}, uint64_t{500}, total / 2 + 321, total - 1, total, total + 5000}) {
      for (bool measuring : {false, true}) {
        SCOPED_TRACE("sample " + std::to_string(target) + (measuring ? ", measured" : ""));
        RecordingEncoder sought;
        auto seeker = ready(path, sought, measuring);
        ASSERT_NE(seeker, nullptr);
        ASSERT_EQ(seeker->seek_to_sample(target), 0);
        EXPECT_TRUE(sought.calls_named("encode_samples").empty()) << "nothing before decode_chunk";
        ASSERT_EQ(decode_loop(*seeker, sought).back(), 1);

        if (target >= total) {
          EXPECT_TRUE(sought.calls_named("encode_samples").empty());
          continue;
        }
        ASSERT_EQ(sought.pcm[0].size(), decoded - target);
        if (c.worst_db == 0) {
          for (size_t ch = 0; ch < full.pcm.size(); ++ch) {
            EXPECT_TRUE(std::equal(sought.pcm[ch].begin(), sought.pcm[ch].end(),
                                   full.pcm[ch].begin() + static_cast<long>(target)))
                << "channel " << ch;
          }
        } else {
          EXPECT_LE(worst_window_db(full.pcm, sought.pcm, target), c.worst_db);
        }
      }
    }
  }
}

}  // namespace

namespace {

// A source cut short: a seek before the cut lands, and decoding fails at the cut as a full
// decode does; a seek beyond the cut fails, since no way of seeking can reach it.
TEST_F(SeekToSampleTest, ACutSourceFailsAtTheCutAndNotBefore) {
  const std::string wav = dir / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, source_spec()));
  const std::pair<const char*, Maker> cut_cases[] = {
      {"flac", with_flac({"-S", "1s"})},
      {"aiff", with_tool(Tool::Aiff)},
      {"tta", with_tool(Tool::Tta)},
      {"wv", with_tool(Tool::WavPack)},
  };
  for (const auto& [extension, make] : cut_cases) {
    SCOPED_TRACE(extension);
    const std::string path = dir / (std::string("cut.") + extension);
    ASSERT_TRUE(make(wav, path));
    std::vector<uint8_t> bytes = fixtures::read_file(path);
    bytes.resize(bytes.size() * 6 / 10);
    ASSERT_TRUE(fixtures::write_file(path, bytes));

    RecordingEncoder before;
    auto decoder = ready(path, before, true);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(before.total_samples, kSourceSamples);
    ASSERT_EQ(decoder->seek_to_sample(kSourceSamples * 3 / 10), 0);
    EXPECT_EQ(decode_loop(*decoder, before).back(), -1);
    EXPECT_GT(before.pcm[0].size(), 0u);
    EXPECT_LT(before.pcm[0].size(), kSourceSamples - kSourceSamples * 3 / 10);

    RecordingEncoder beyond;
    decoder = ready(path, beyond, true);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->seek_to_sample(kSourceSamples * 8 / 10), -1);
  }
}

// A source read through a pipe cannot seek at all: the decoder decodes on from the start,
// discarding up to the target, and delivers the same samples as a seek would.
TEST_F(SeekToSampleTest, APipeIsDecodedOnToTheTarget) {
  const std::string wav = dir / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, source_spec()));
  for (const std::string name : {"Ogg Vorbis", "Opus", "WAV"}) {
    SCOPED_TRACE(name);
    const SeekCase* c = std::find_if(std::begin(kCases), std::end(kCases),
                                     [&](const SeekCase& one) { return one.name == name; });
    ASSERT_NE(c, std::end(kCases));
    const std::string path = dir / (std::string("song.") + c->extension);
    ASSERT_TRUE(c->make(wav, path));
    RecordingEncoder full;
    auto decoder = ready(path, full, false);
    ASSERT_NE(decoder, nullptr);
    ASSERT_EQ(decode_loop(*decoder, full).back(), 1);
    const uint64_t target = full.pcm[0].size() / 2 + 321;

    const std::string fifo = dir / (std::string("pipe.") + c->extension);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Ends when the decoder has read it all or closed it; the time limit covers a decoder
    // that never opens it.
    std::thread writer([&] {
      run_command({"sh", "-c", "cat '" + path + "' > '" + fifo + "'"}, 60000);
    });
    std::string extension = c->extension;
    // Not make_source_decoder: sniffing an Ogg stream would read the pipe once more.
    decoder = make_decoder(extension);
    RecordingEncoder sought;
    const bool opened = decoder && decoder->open_source(fifo.c_str()) == 0;
    if (opened) {
      decoder->measure_only();
      EXPECT_EQ(decoder->read_tags(&sought), 0);
      LogCapture log;
      EXPECT_EQ(decoder->seek_to_sample(target), 0);
      EXPECT_TRUE(log.contains("seek")) << "the way round is logged";
      EXPECT_EQ(log.text().find("ERROR"), std::string::npos) << log.text();
      EXPECT_EQ(decode_loop(*decoder, sought).back(), 1);
    }
    decoder.reset();
    writer.join();
    unlink(fifo.c_str());
    ASSERT_TRUE(opened);

    ASSERT_EQ(sought.pcm[0].size(), full.pcm[0].size() - target);
    if (c->worst_db == 0) {
      EXPECT_TRUE(std::equal(sought.pcm[0].begin(), sought.pcm[0].end(),
                             full.pcm[0].begin() + static_cast<long>(target)));
    } else {
      EXPECT_LE(worst_window_db(full.pcm, sought.pcm, target), c->worst_db);
    }
  }
}

}  // namespace
