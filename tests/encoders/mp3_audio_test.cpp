#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "encoder_harness.h"
#include "encoders/mp3_encoder.h"
#include "support/mp3_decode.h"
#include "support/settings_guard.h"

namespace {

// Encoder delay plus the decoder's, and at most one frame of end padding and one of flush.
constexpr size_t kMaxExtraSamples = 576 + 529 + 2 * 1152;

// Best normalised correlation of decoded against the source over lags up to max_lag.
double best_correlation(const std::vector<int16_t>& decoded, const std::vector<int32_t>& source,
                        int shift, size_t max_lag) {
  const size_t window = 8192;
  const size_t start = 2048;
  double best = -1;
  for (size_t lag = 0; lag <= max_lag && start + lag + window <= decoded.size(); ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = start; i < start + window; ++i) {
      const double x = source[i] >> shift;
      const double y = decoded[i + lag];
      xy += x * y, xx += x * x, yy += y * y;
    }
    if (xx > 0 && yy > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  return best;
}

// Encodes pcm through the whole life of one encoder; the Buffer is left for inspection.
class Mp3Audio : public ::testing::Test {
 protected:
  void encode(const harness::Pcm& pcm, uint64_t known_size = 0) {
    ASSERT_EQ(encoder.begin_stream(pcm.spec.total_samples, pcm.spec.sample_rate,
                                   static_cast<int>(pcm.spec.channels)),
              0);
    ASSERT_EQ(encoder.emit_tags(known_size), 0);
    head_size = buffer.head_size();  // the ID3v2 tag and any information frame
    announced = buffer.total_size();
    id3v1 = harness::tail_bytes(buffer);
    ASSERT_TRUE(harness::encode_all(encoder, pcm));
    ASSERT_GE(encoder.flush_stream(), 0);
  }

  static harness::Pcm sine(unsigned rate, unsigned channels, unsigned bits, double seconds) {
    fixtures::AudioSpec spec;
    spec.sample_rate = rate;
    spec.channels = channels;
    spec.bits_per_sample = bits;
    spec.total_samples = static_cast<uint64_t>(seconds * rate);
    return harness::sine_pcm(spec);
  }

  SettingsGuard guard;
  Buffer buffer;
  std::unique_ptr<Mp3Encoder> owned = std::make_unique<Mp3Encoder>(&buffer);
  Mp3Encoder& encoder = *owned;
  uint64_t head_size = 0;
  uint64_t announced = 0;
  std::vector<uint8_t> id3v1;
};

struct PcmCase {
  const char* name;
  unsigned rate, channels, bits;
  unsigned statcachesize;
};

class Mp3AudioRoundTrip : public Mp3Audio, public ::testing::WithParamInterface<PcmCase> {};

TEST_P(Mp3AudioRoundTrip, ASineComesBackAsThatSine) {
  const PcmCase& c = GetParam();
  settings.statcachesize = c.statcachesize;
  const harness::Pcm pcm = sine(c.rate, c.channels, c.bits, 3.0);
  encode(pcm);

  const DecodedMp3 decoded = decode_mp3(harness::file_bytes(buffer));
  ASSERT_TRUE(decoded.clean()) << decoded.errors << " errors";
  EXPECT_EQ(decoded.sample_rate, c.rate);
  ASSERT_EQ(decoded.channels, static_cast<int>(c.channels));
  EXPECT_GE(decoded.frames(), pcm.spec.total_samples);
  EXPECT_LE(decoded.frames(), pcm.spec.total_samples + kMaxExtraSamples);
  for (unsigned ch = 0; ch < c.channels; ++ch) {
    EXPECT_GT(best_correlation(decoded.pcm[ch], pcm.channels[ch], c.bits - 16, 2000), 0.95)
        << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, Mp3AudioRoundTrip,
                         ::testing::Values(PcmCase{"Stereo16", 44100, 2, 16, 1},
                                           PcmCase{"Mono16", 44100, 1, 16, 0},
                                           PcmCase{"Stereo24At48k", 48000, 2, 24, 0},
                                           PcmCase{"Mono24At22k", 22050, 1, 24, 1},
                                           PcmCase{"Stereo16At32k", 32000, 2, 16, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Mp3Audio, MonoNeverReadsASecondChannel) {
  const harness::Pcm pcm = sine(44100, 1, 16, 1.0);
  ASSERT_EQ(encoder.begin_stream(pcm.spec.total_samples, 44100, 1), 0);
  ASSERT_EQ(encoder.emit_tags(0), 0);
  // Only one pointer: a read of channels[1] would be caught by the address sanitizer.
  const int32_t* channels[1] = {pcm.channels[0].data()};
  EXPECT_EQ(encoder.encode_samples(channels, 1152, 16), 0);
}

TEST_F(Mp3Audio, EmptyAndMalformedBlocksAppendNothing) {
  const harness::Pcm pcm = sine(44100, 2, 16, 1.0);
  ASSERT_EQ(encoder.begin_stream(pcm.spec.total_samples, 44100, 2), 0);
  ASSERT_EQ(encoder.emit_tags(0), 0);
  const uint64_t head = buffer.head_size();
  const int32_t* channels[2] = {pcm.channels[0].data(), pcm.channels[1].data()};
  struct Case {
    int count, bits, result;
  } cases[] = {{0, 16, 0}, {-1, 16, -1}, {1152, 0, -1}, {1152, 33, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(encoder.encode_samples(channels, c.count, c.bits), c.result)
        << c.count << " samples at " << c.bits << " bits";
    EXPECT_EQ(buffer.head_size(), head);
  }
}

TEST_F(Mp3Audio, WithTheCacheOffTheFileKeepsItsAnnouncedSize) {
  const harness::Pcm pcm = sine(44100, 2, 16, 2.0);
  struct Case {
    const char* name;
    int64_t room_change;  // added to the predicted size to make the announced one
  } cases[] = {{"predicted", 0}, {"stream shorter", 5000}, {"stream longer", -8000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Buffer b;
    Mp3Encoder e(&b);
    ASSERT_EQ(e.begin_stream(pcm.spec.total_samples, 44100, 2), 0);
    // The prediction counts the ID3v2 tag only once it is rendered: add its size by hand.
    const uint64_t predicted = e.predicted_size();
    uint64_t known = 0;
    if (c.room_change != 0) {
      Buffer probe;
      Mp3Encoder p(&probe);
      ASSERT_EQ(p.begin_stream(pcm.spec.total_samples, 44100, 2), 0);
      ASSERT_EQ(p.emit_tags(0), 0);
      known = static_cast<uint64_t>(static_cast<int64_t>(p.predicted_size()) + c.room_change);
    }
    ASSERT_EQ(e.emit_tags(known), 0);
    const uint64_t announced_size = b.total_size();
    EXPECT_EQ(announced_size, known ? known : predicted + mp3_stream_start(harness::head_bytes(b)));
    const std::vector<uint8_t> tail = harness::tail_bytes(b);
    ASSERT_TRUE(harness::encode_all(e, pcm));
    ASSERT_GE(e.flush_stream(), 0);

    EXPECT_EQ(b.total_size(), announced_size);
    EXPECT_EQ(b.head_size(), announced_size - 128);
    const std::vector<uint8_t> file = harness::file_bytes(b);
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 128, file.end()), tail);
    if (c.room_change > 0) {
      // At least the extra room lies as zero bytes before the ID3v1 tag.
      EXPECT_TRUE(std::all_of(file.end() - 128 - c.room_change, file.end() - 128,
                              [](uint8_t x) { return x == 0; }));
    }
  }
}

TEST_F(Mp3Audio, WithTheCacheOnTheId3v1TagFollowsTheLastStreamByte) {
  settings.statcachesize = 100;
  const harness::Pcm pcm = sine(44100, 2, 16, 2.0);
  encode(pcm);
  EXPECT_EQ(buffer.tail_offset(), buffer.head_size());
  EXPECT_EQ(buffer.total_size(), buffer.head_size() + 128);
  const std::vector<uint8_t> file = harness::file_bytes(buffer);
  EXPECT_EQ(std::vector<uint8_t>(file.end() - 128, file.end()), id3v1);
  // The frames tile the stream exactly: nothing is padded or cut.
  const auto frames = harness::walk_frames(file, head_size, file.size() - 128);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().offset + frames.back().length, file.size() - 128);
}

TEST_F(Mp3Audio, InVbrModeTheInformationFrameReplacesItsPlaceholder) {
  settings.vbr = 1;
  settings.statcachesize = 1;
  owned = std::make_unique<Mp3Encoder>(&buffer);  // settings are read at construction
  Mp3Encoder& vbr = *owned;
  const harness::Pcm pcm = sine(44100, 2, 16, 2.0);
  ASSERT_EQ(vbr.begin_stream(pcm.spec.total_samples, 44100, 2), 0);
  ASSERT_EQ(vbr.emit_tags(0), 0);
  const size_t id3v2 = buffer.head_size();
  ASSERT_TRUE(harness::encode_all(vbr, pcm));
  const std::vector<uint8_t> before = harness::head_bytes(buffer);
  ASSERT_GE(vbr.flush_stream(), 0);
  const std::vector<uint8_t> after = harness::file_bytes(buffer);

  const auto frames = harness::walk_frames(after, id3v2, after.size() - 128);
  ASSERT_GT(frames.size(), 2u);
  const size_t info_end = id3v2 + frames[0].length;
  EXPECT_TRUE(harness::contains(after, id3v2, info_end, "Xing") ||
              harness::contains(after, id3v2, info_end, "Info"));
  EXPECT_TRUE(harness::contains(after, id3v2, info_end, "LAME"));
  // Only the placeholder changed; the frames LAME encoded after it are untouched.
  EXPECT_NE(std::vector<uint8_t>(before.begin() + id3v2, before.begin() + info_end),
            std::vector<uint8_t>(after.begin() + id3v2, after.begin() + info_end));
  EXPECT_TRUE(std::equal(before.begin() + info_end, before.end(), after.begin() + info_end));

  // A decoder that honours the frame trims the encoder's delay and padding exactly.
  const DecodedMp3 decoded = decode_mp3(after);
  ASSERT_TRUE(decoded.clean());
  EXPECT_EQ(decoded.frames(), pcm.spec.total_samples);
}

TEST_F(Mp3Audio, TheAnnouncedSizeFollowsTheFrameLengthAtEveryRate) {
  // MPEG-1 frames hold 1152 samples and those below 32 kHz 576; a prediction that took
  // every frame for 1152 samples would announce a low-rate file at twice its length,
  // half of it zero padding. At 8 kHz LAME also lowers the bitrate to what the rate can carry.
  for (unsigned rate : {44100u, 32000u, 22050u, 16000u, 11025u, 8000u}) {
    SCOPED_TRACE(rate);
    Buffer b;
    Mp3Encoder e(&b);
    const harness::Pcm pcm = sine(rate, 2, 16, 2.0);
    ASSERT_EQ(e.begin_stream(pcm.spec.total_samples, static_cast<int>(rate), 2), 0);
    ASSERT_EQ(e.emit_tags(0), 0);
    const uint64_t head = b.head_size();
    const uint64_t announced = b.total_size();
    ASSERT_TRUE(harness::encode_all(e, pcm));
    ASSERT_GE(e.flush_stream(), 0);

    const std::vector<uint8_t> file = harness::file_bytes(b);
    ASSERT_EQ(file.size(), announced);
    const auto frames = harness::walk_frames(file, head, file.size() - 128);
    ASSERT_FALSE(frames.empty());
    const uint64_t stream_end = frames.back().offset + frames.back().length;
    // What is left between the stream and the ID3v1 tag is less than one frame.
    EXPECT_LT(file.size() - 128 - stream_end, frames.back().length);
  }
}

TEST_F(Mp3Audio, ACbrPredictionIsTheExactSize) {
  // With the cache on the file takes its exact length, so any error of the prediction shows.
  // LAME lowers a bitrate the output rate does not allow, and leaves out an information frame
  // that a frame at a low bitrate cannot hold.
  settings.statcachesize = 1;
  const struct {
    unsigned rate, channels;
    int bitrate, gapless;
  } cases[] = {{44100, 2, 128, 1}, {44100, 2, 128, 0}, {48000, 1, 320, 1},
               {22050, 2, 320, 1}, {8000, 1, 128, 1},  {8000, 1, 8, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels, " << c.bitrate
                                    << " kbit/s, gapless " << c.gapless);
    settings.bitrate = c.bitrate;
    settings.gapless = c.gapless;
    Buffer b;
    Mp3Encoder e(&b);
    const harness::Pcm pcm = sine(c.rate, c.channels, 16, 1.3);
    ASSERT_EQ(e.begin_stream(pcm.spec.total_samples, static_cast<int>(c.rate),
                             static_cast<int>(c.channels)),
              0);
    ASSERT_EQ(e.emit_tags(0), 0);
    const uint64_t announced = b.total_size();
    ASSERT_TRUE(harness::encode_all(e, pcm));
    ASSERT_GE(e.flush_stream(), 0);
    EXPECT_EQ(b.total_size(), announced);
  }
}

TEST_F(Mp3Audio, AResampledVbrStreamFitsItsAnnouncedSize) {
  // LAME resamples 96 kHz to 48 kHz; with the cache off the stream must still fit the
  // size announced before encoding, or its end would be cut away.
  settings.vbr = 1;
  settings.quality = 0;
  settings.bitrate = 64;  // low enough that most frames are at the maximum
  owned = std::make_unique<Mp3Encoder>(&buffer);
  const harness::Pcm pcm = sine(96000, 2, 16, 2.0);
  ASSERT_EQ(owned->begin_stream(pcm.spec.total_samples, 96000, 2), 0);
  ASSERT_EQ(owned->emit_tags(0), 0);
  const size_t id3v2 = buffer.head_size();
  ASSERT_TRUE(harness::encode_all(*owned, pcm));
  ASSERT_GE(owned->flush_stream(), 0);

  std::vector<uint8_t> file = harness::file_bytes(buffer);
  const auto frames = harness::walk_frames(file, id3v2, file.size() - 128);
  ASSERT_FALSE(frames.empty());
  const size_t stream_end = frames.back().offset + frames.back().length;
  EXPECT_LT(stream_end, file.size() - 128);
  EXPECT_TRUE(
      std::all_of(file.begin() + stream_end, file.end() - 128, [](uint8_t x) { return x == 0; }));
  // The zero padding is left out: the decoder gives up on long runs of it.
  file.resize(stream_end);
  const DecodedMp3 decoded = decode_mp3(file);
  ASSERT_TRUE(decoded.clean());
  EXPECT_EQ(decoded.sample_rate, 48000);
  EXPECT_EQ(decoded.frames(), pcm.spec.total_samples / 2);
}

TEST_F(Mp3Audio, EncodersOnSeveralThreadsDoNotDisturbEachOther) {
  const harness::Pcm pcm = sine(44100, 2, 16, 1.0);
  auto run = [&pcm](std::vector<uint8_t>* out) {
    Buffer b;
    Mp3Encoder e(&b);
    if (e.begin_stream(pcm.spec.total_samples, 44100, 2) != 0 || e.emit_tags(0) != 0 ||
        !harness::encode_all(e, pcm) || e.flush_stream() < 0) {
      return;
    }
    *out = harness::file_bytes(b);
  };
  std::vector<uint8_t> alone;
  run(&alone);
  ASSERT_FALSE(alone.empty());
  std::vector<std::vector<uint8_t>> outputs(4);
  std::vector<std::thread> threads;
  for (auto& out : outputs) threads.emplace_back(run, &out);
  for (auto& t : threads) t.join();
  for (const auto& out : outputs) EXPECT_EQ(out, alone);
}

}  // namespace
