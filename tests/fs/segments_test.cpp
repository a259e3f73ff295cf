// Segmented CBR output through the mount: the bytes never depend on the order of reads or on
// the number of workers, the joins sound like a continuous encoding, a read far into a file
// makes only what it needs, and damage fails only what lies behind it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "fs/cache_mount.h"
#include "support/mp3_decode.h"

namespace {

constexpr int kToolTimeoutMs = 120000;
constexpr size_t kChunk = 64 * 1024;

// Music-like audio (two tones, a sweep, pink noise), so that the encoder's bit allocation
// varies from frame to frame as it does with real music. The noise is seeded: how much a join's
// first frame (which starts with an empty bit reservoir) loses depends on the audio there, and
// an unseeded source once made one window 6.4 dB worse where seeds 1-8 give 0.5-1.1 dB.
bool write_music(const std::string& path, int seconds, int rate, int channels) {
  const std::string d = std::to_string(seconds);
  return run_command({"ffmpeg",
                      "-loglevel",
                      "error",
                      "-y",
                      "-f",
                      "lavfi",
                      "-i",
                      "sine=frequency=330:duration=" + d,
                      "-f",
                      "lavfi",
                      "-i",
                      "anoisesrc=c=pink:a=0.08:seed=1:d=" + d,
                      "-f",
                      "lavfi",
                      "-i",
                      "aevalsrc=0.2*sin(2*PI*(200+40*t)*t):d=" + d,
                      "-filter_complex",
                      "[0][1][2]amix=inputs=3",
                      "-ar",
                      std::to_string(rate),
                      "-ac",
                      std::to_string(channels),
                      "-sample_fmt",
                      "s16",
                      path},
                     kToolTimeoutMs) == 0;
}

// The source as 16-bit samples of its first channel.
std::vector<int16_t> source_samples(const std::string& path) {
  std::string raw = path + ".raw";
  EXPECT_EQ(run_command(
                {"ffmpeg", "-loglevel", "error", "-y", "-i", path, "-ac", "1", "-f", "s16le", raw},
                kToolTimeoutMs),
            0);
  const Bytes bytes = fixtures::read_file(raw);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::copy(bytes.begin(), bytes.begin() + samples.size() * 2,
            reinterpret_cast<uint8_t*>(samples.data()));
  return samples;
}

// Error energy of each 1152-sample window against the source, relative to the source's, in
// dB; decoded is shifted by the lag that fits the first second best.
std::vector<double> window_errors(const std::vector<int16_t>& decoded,
                                  const std::vector<int16_t>& source, int lag) {
  std::vector<double> errors;
  for (size_t w = 0; (w + 1) * 1152 + lag <= decoded.size() && (w + 1) * 1152 <= source.size();
       ++w) {
    double error = 0, signal = 0;
    for (size_t i = w * 1152; i < (w + 1) * 1152; ++i) {
      const double s = source[i];
      const double d = decoded[i + lag] - s;
      error += d * d;
      signal += s * s;
    }
    errors.push_back(10 * std::log10((error + 1) / (signal + 1)));
  }
  return errors;
}

int best_lag(const std::vector<int16_t>& decoded, const std::vector<int16_t>& source) {
  int best = 0;
  double least = -1;
  for (int lag = 0; lag < 2400; ++lag) {
    double error = 0;
    for (size_t i = 0; i < 44100 && i + lag < decoded.size() && i < source.size(); ++i) {
      const double d = decoded[i + lag] - source[i];
      error += d * d;
    }
    if (least < 0 || error < least) least = error, best = lag;
  }
  return best;
}

std::vector<int16_t> first_channel(const Bytes& mp3) {
  const DecodedMp3 decoded = decode_mp3(mp3);
  EXPECT_TRUE(decoded.clean()) << decoded.errors << " decoding errors";
  return decoded.pcm.empty() ? std::vector<int16_t>{} : decoded.pcm[0];
}

enum class Order { Forward, Backward, Random };

// The file read in chunks of kChunk in the given order, assembled by offset.
Bytes read_in_order(const std::string& path, Order order) {
  const off_t size = size_of(path);
  Bytes bytes(static_cast<size_t>(size));
  std::vector<off_t> offsets;
  for (off_t at = 0; at < size; at += kChunk) offsets.push_back(at);
  if (order == Order::Backward) std::reverse(offsets.begin(), offsets.end());
  if (order == Order::Random) std::shuffle(offsets.begin(), offsets.end(), std::mt19937(7));
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  for (const off_t at : offsets) {
    const size_t want = std::min<size_t>(kChunk, static_cast<size_t>(size - at));
    EXPECT_EQ(pread(fd, bytes.data() + at, want, at), static_cast<ssize_t>(want)) << at;
  }
  close(fd);
  return bytes;
}

class Segments : public CacheMounts {
 protected:
  void SetUp() override {
    CacheMounts::SetUp();
    if (IsSkipped()) return;
    // 40 s at 44.1 kHz: three segments, the last one longer.
    ASSERT_TRUE(write_music(source / "music.flac", 40, 44100, 2));
  }

  int segments_made(const Session& olvex) const {
    const std::string log = olvex.log();
    int count = 0;
    for (size_t at = 0; (at = log.find("Making segment ", at)) != std::string::npos; ++at) ++count;
    return count;
  }
};

TEST_F(Segments, SameBytesInAnyOrderWithOneWorkerOrEight) {
  Bytes expected;
  {
    auto olvex = start({"--threads=1"});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    expected = read_whole(*olvex / "music.mp3");
    EXPECT_EQ(static_cast<off_t>(expected.size()), size_of(*olvex / "music.mp3"));
    olvex->stop();
  }
  for (const char* threads : {"--threads=1", "--threads=8"}) {
    for (const Order order : {Order::Forward, Order::Backward, Order::Random}) {
      SCOPED_TRACE(std::string(threads) + " order " + std::to_string(static_cast<int>(order)));
      auto olvex = start({threads});
      ASSERT_TRUE(olvex->live()) << olvex->output();
      EXPECT_TRUE(read_in_order(*olvex / "music.mp3", order) == expected);
      EXPECT_EQ(olvex->errors(), 0) << olvex->log();
      olvex->stop();
    }
    auto olvex = start({threads});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    const std::vector<std::string> two(2, *olvex / "music.mp3");
    for (const Bytes& got : read_at_once(two, [&] { olvex->abort(); })) {
      EXPECT_TRUE(got == expected) << threads << ", two readers at once";
    }
    olvex->stop();
  }
}

TEST_F(Segments, JoinsSoundLikeAContinuousEncoding) {
  const std::vector<int16_t> original = source_samples(source / "music.flac");
  Bytes segmented, continuous;
  for (const bool on : {true, false}) {
    auto olvex = start({on ? "--segments=on" : "--segments=off"});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    (on ? segmented : continuous) = read_whole(*olvex / "music.mp3");
    olvex->stop();
  }
  ASSERT_EQ(segmented.size(), continuous.size());
  EXPECT_FALSE(segmented == continuous) << "no segments were made";
  const std::vector<int16_t> a = first_channel(segmented);
  const std::vector<int16_t> b = first_channel(continuous);
  ASSERT_EQ(a.size(), b.size());
  const int lag = best_lag(b, original);
  const std::vector<double> with_joins = window_errors(a, original, lag);
  const std::vector<double> without = window_errors(b, original, lag);
  ASSERT_GT(without.size(), 1500u);
  double sum = 0, worst = -1e9;
  size_t worst_at = 0;
  for (size_t w = 0; w < without.size(); ++w) {
    const double worse = with_joins[w] - without[w];
    sum += worse;
    if (worse > worst) worst = worse, worst_at = w;
  }
  EXPECT_LT(sum / static_cast<double>(without.size()), 0.25);
  // A join without pre-roll is some 18 dB worse than a continuous encoding there.
  EXPECT_LT(worst, 6.0) << "at window " << worst_at;
}

TEST_F(Segments, AReadFarIntoAFileMakesOnlyTheSegmentItNeeds) {
  Bytes expected;
  {
    auto olvex = start({});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    expected = read_whole(*olvex / "music.mp3");
    olvex->stop();
  }
  auto olvex = start({});
  ASSERT_TRUE(olvex->live()) << olvex->output();
  const std::string path = *olvex / "music.mp3";
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const off_t at = static_cast<off_t>(expected.size() * 9 / 10);
  Bytes got(4096);
  ASSERT_EQ(pread(fd, got.data(), got.size(), at), 4096);
  close(fd);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + at));
  EXPECT_EQ(segments_made(*olvex), 1) << olvex->log();
  olvex->stop();
}

TEST_F(Segments, ClosingAFileDropsItsQueuedReadAhead) {
  ASSERT_TRUE(write_music(source / "long.flac", 180, 44100, 2));  // 14 segments
  auto olvex = start({"--threads=1", "--readahead=600"});
  ASSERT_TRUE(olvex->live()) << olvex->output();
  const std::string path = *olvex / "long.mp3";
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Bytes chunk(kChunk);
  // Two reads of audio in a row: a reader going forward, so the rest is queued ahead.
  for (off_t at = 0; at < static_cast<off_t>(3 * kChunk); at += kChunk) {
    ASSERT_EQ(pread(fd, chunk.data(), kChunk, at), static_cast<ssize_t>(kChunk));
  }
  close(fd);
  olvex->stop();
  const int made = segments_made(*olvex);
  EXPECT_GE(made, 1);
  EXPECT_LT(made, 14) << olvex->log();
}

TEST_F(Segments, ManyFilesAtOnceNeverRunMoreEncodersThanThreads) {
  std::vector<std::string> names;
  for (int i = 0; i < 8; ++i) {
    names.push_back("file" + std::to_string(i));
    ASSERT_TRUE(write_music(source / (names.back() + ".flac"), 20, 44100, 2));
  }
  auto olvex = start({"--threads=2"});
  ASSERT_TRUE(olvex->live()) << olvex->output();
  std::vector<std::string> paths;
  for (const auto& name : names) paths.push_back(*olvex / (name + ".mp3"));
  for (const Bytes& got : read_at_once(paths, [&] { olvex->abort(); })) EXPECT_FALSE(got.empty());
  olvex->stop();
  const std::string log = olvex->log();
  EXPECT_NE(log.find("Encode pool: 2 encoders at once."), std::string::npos) << log;
  EXPECT_EQ(log.find("Encode pool: 3 encoders at once."), std::string::npos) << log;
}

TEST_F(Segments, DamageFailsItsSegmentAndLaterOnesOnly) {
  // The FLAC is cut at two thirds: STREAMINFO still announces all of it.
  const Bytes whole = fixtures::read_file(source / "music.flac");
  ASSERT_TRUE(fixtures::write_file(source / "cut.flac",
                                   Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3)));
  auto olvex = start({});
  ASSERT_TRUE(olvex->live()) << olvex->output();
  const std::string path = *olvex / "cut.mp3";
  const off_t size = size_of(path);
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Bytes chunk(4096);
  EXPECT_EQ(pread(fd, chunk.data(), chunk.size(), size * 95 / 100), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(pread(fd, chunk.data(), chunk.size(), size / 10), 4096) << std::strerror(errno);
  close(fd);
  EXPECT_EQ(read_whole(*olvex / "music.mp3").size(),
            static_cast<size_t>(size_of(*olvex / "music.mp3")));
  olvex->stop();
}

}  // namespace
