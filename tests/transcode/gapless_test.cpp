// Gapless playback through the Transcoder: the information frame that leads every CBR file
// against the one Debian's lame writes for the same source, and the decoded audio against
// the source, sample for sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/settings.h"
#include "encoders/info_frame.h"
#include "support/fixtures.h"
#include "support/info_tag.h"
#include "support/mount.h"
#include "support/mp3_decode.h"
#include "support/settings_guard.h"
#include "support/tool_fixtures.h"
#include "transcode/transcoder.h"

namespace {

constexpr int kToolTimeoutMs = 120000;

std::vector<uint8_t> transcode(const std::string& path) {
  Transcoder transcoder(path);
  if (!transcoder.initialize()) return {};
  std::vector<uint8_t> out(transcoder.size());
  size_t offset = 0;
  while (offset < out.size()) {
    const int64_t n = transcoder.read(reinterpret_cast<char*>(out.data() + offset),
                                      static_cast<int64_t>(offset), out.size() - offset);
    if (n <= 0) break;
    offset += static_cast<size_t>(n);
  }
  out.resize(offset);
  return out;
}

// Debian's lame at the settings' bitrate and quality: with its information frame (and no
// ReplayGain, which olvex does not compute) or without any (-t).
std::vector<uint8_t> lame_cli(const std::string& wav, const std::string& mp3, bool info_frame) {
  std::vector<std::string> argv = {"lame", "--quiet",
                                   "-b",   std::to_string(settings.bitrate),
                                   "-q",   std::to_string(settings.quality)};
  argv.push_back(info_frame ? "--noreplaygain" : "-t");
  argv.insert(argv.end(), {wav, mp3});
  std::string output;
  EXPECT_EQ(run_command(argv, kToolTimeoutMs, &output), 0) << output;
  return fixtures::read_file(mp3);
}

fixtures::AudioSpec spec_of(unsigned rate, unsigned channels, uint64_t samples,
                            uint64_t first_sample = 0) {
  fixtures::AudioSpec spec;
  spec.sample_rate = rate;
  spec.channels = channels;
  spec.total_samples = samples;
  spec.first_sample = first_sample;
  return spec;
}

class Gapless : public ::testing::Test {
 protected:
  SettingsGuard guard;
  fixtures::TempDir dir;
};

struct ReferenceCase {
  const char* name;
  fixtures::AudioSpec spec;
  int bitrate;
  int quality;
  uint64_t decoded_samples;  // the source's length at the rate LAME encodes at
};

const ReferenceCase kReferenceCases[] = {
    {"ends inside a frame", spec_of(44100, 2, 44100 * 2 + 333), 128, 5, 44100 * 2 + 333},
    {"mono", spec_of(44100, 1, 60001), 128, 5, 60001},
    {"48 kHz at 320 kbit/s, quality 2", spec_of(48000, 2, 48007), 320, 2, 48007},
    {"32 kHz", spec_of(32000, 2, 40001), 128, 5, 40001},
    {"cut from a longer recording", spec_of(44100, 2, 100003, 1234567), 128, 5, 100003},
    {"22.05 kHz mono at quality 7", spec_of(22050, 1, 30011), 64, 7, 30011},
    // Over 400 frames, so LAME's table of contents has folded its samples once.
    {"long enough to fold the table", spec_of(22050, 1, 22050 * 11 + 5), 64, 5, 22050 * 11 + 5},
    {"96 kHz, resampled to 48 kHz", spec_of(96000, 2, 96480), 128, 5, 48240},
};

TEST_F(Gapless, InfoFrameIsLamesAndTheAudioDecodesToTheSourcesLength) {
  for (const ReferenceCase& c : kReferenceCases) {
    SCOPED_TRACE(c.name);
    settings.bitrate = c.bitrate;
    settings.quality = c.quality;
    const std::string wav = dir / "source.wav";
    const std::string flac = dir / "source.flac";
    ASSERT_TRUE(fixtures::write_wav(wav, c.spec));
    ASSERT_TRUE(fixtures::write_flac(flac, c.spec));
    const std::vector<uint8_t> reference = lame_cli(wav, dir / "reference.mp3", true);
    const std::vector<uint8_t> plain = lame_cli(wav, dir / "plain.mp3", false);
    const std::vector<uint8_t> ours = transcode(flac);
    ASSERT_GT(ours.size(), 128u);

    InfoTag theirs_tag, our_tag;
    ASSERT_TRUE(read_info_tag(reference, mp3_stream_start(reference), theirs_tag));
    const size_t start = mp3_stream_start(ours);
    ASSERT_TRUE(read_info_tag(ours, start, our_tag));
    ASSERT_TRUE(our_tag.cbr);
    ASSERT_EQ(our_tag.frame_length, theirs_tag.frame_length);
    const uint8_t* a = ours.data() + start;
    const uint8_t* b = reference.data() + theirs_tag.frame_offset;
    for (size_t i = 0; i < our_tag.frame_length; ++i) {
      // lame takes the header's mode extension from the last audio frame, which does not
      // exist when ours is made; and the music CRC covers that audio.
      const uint8_t mask = i == 3 ? 0xCF : 0xFF;
      if (i >= our_tag.music_crc_at() && i < our_tag.tag_crc_at() + 2) continue;
      ASSERT_EQ(a[i] & mask, b[i] & mask) << "first difference at byte " << i << " of the frame";
    }
    EXPECT_EQ(our_tag.music_crc, 0);
    EXPECT_EQ(our_tag.tag_crc, lame_tag_crc(std::span(a, our_tag.tag_crc_at())));
    // The same CRC function gives lame's own tag CRC, over lame's own bytes.
    EXPECT_EQ(theirs_tag.tag_crc, lame_tag_crc(std::span(b, theirs_tag.tag_crc_at())));

    // The audio frames are exactly lame's without a tag frame, up to the ID3v1 tag.
    const std::vector<uint8_t> audio(ours.begin() + static_cast<long>(start + our_tag.frame_length),
                                     ours.end() - 128);
    EXPECT_TRUE(audio == plain) << "audio of " << audio.size() << " bytes, lame's " << plain.size();

    const DecodedMp3 decoded = decode_mp3(ours);
    ASSERT_TRUE(decoded.clean());
    EXPECT_EQ(decoded.frames(), c.decoded_samples);
  }
}

TEST_F(Gapless, OffTheStreamIsLamesWithoutAnyTagFrame) {
  settings.gapless = 0;
  const fixtures::AudioSpec spec = spec_of(44100, 2, 30001);
  ASSERT_TRUE(fixtures::write_wav(dir / "source.wav", spec));
  ASSERT_TRUE(fixtures::write_flac(dir / "source.flac", spec));
  const std::vector<uint8_t> plain = lame_cli(dir / "source.wav", dir / "plain.mp3", false);
  const std::vector<uint8_t> ours = transcode(dir / "source.flac");
  ASSERT_GT(ours.size(), 128u);
  const auto start = static_cast<long>(mp3_stream_start(ours));
  EXPECT_TRUE(std::vector<uint8_t>(ours.begin() + start, ours.end() - 128) == plain);
}

// Three tracks cut from one recording at points inside MP3 frames, transcoded and decoded
// one after the other as a player does, against the recording: the signal glides in pitch, so
// audio that is late by a gap does not line up with itself again.
struct AlbumPlayback {
  uint64_t decoded_samples = 0;
  double worst_window_snr_db = 1000;
};

AlbumPlayback play_album(const fixtures::TempDir& dir) {
  fixtures::AudioSpec recording = spec_of(44100, 2, 44100 * 4);
  recording.frequency = 220;
  recording.glide = 300;
  const uint64_t cuts[] = {0, 50001, 111111, recording.total_samples};
  std::vector<std::vector<int16_t>> played(recording.channels);
  for (int track = 0; track < 3; ++track) {
    fixtures::AudioSpec spec = recording;
    spec.first_sample = cuts[track];
    spec.total_samples = cuts[track + 1] - cuts[track];
    const std::string path = dir / ("track" + std::to_string(track) + ".flac");
    EXPECT_TRUE(fixtures::write_flac(path, spec));
    const DecodedMp3 decoded = decode_mp3(transcode(path));
    EXPECT_TRUE(decoded.clean());
    if (decoded.channels != static_cast<int>(recording.channels)) return {};
    for (unsigned c = 0; c < recording.channels; ++c) {
      played[c].insert(played[c].end(), decoded.pcm[c].begin(), decoded.pcm[c].end());
    }
  }

  AlbumPlayback result;
  result.decoded_samples = played[0].size();
  const size_t window = 1024;
  const size_t length = std::min<size_t>(played[0].size(), recording.total_samples);
  for (size_t start = 0; start + window <= length; start += window) {
    double signal = 0, error = 0;
    for (unsigned c = 0; c < recording.channels; ++c) {
      for (size_t i = start; i < start + window; ++i) {
        const double x = fixtures::sine_sample(recording, c, i);
        const double e = played[c][i] - x;
        signal += x * x;
        error += e * e;
      }
    }
    const double snr = 10 * std::log10(signal / std::max(error, 1.0));
    result.worst_window_snr_db = std::min(result.worst_window_snr_db, snr);
  }
  return result;
}

TEST_F(Gapless, TracksCutFromOneRecordingPlayBackAsThatRecording) {
  const uint64_t recording_samples = 44100 * 4;
  const AlbumPlayback gapless = play_album(dir);
  EXPECT_EQ(gapless.decoded_samples, recording_samples);
  EXPECT_GT(gapless.worst_window_snr_db, 15.0);  // 25 dB when measured

  // Without the frame each track brings the encoder's delay and padding along: the same
  // measure then finds the joins.
  settings.gapless = 0;
  const AlbumPlayback gapped = play_album(dir);
  EXPECT_GT(gapped.decoded_samples, recording_samples + 3 * 1105);
  EXPECT_LT(gapped.worst_window_snr_db, 3.0);  // -4.5 dB when measured
}

}  // namespace
