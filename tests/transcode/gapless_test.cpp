// Gapless playback through the Transcoder: the information frame that leads every CBR file
// against the one Debian's lame writes for the same source, and the decoded audio against
// the source, sample for sample.
#include <gtest/gtest.h>

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
  std::vector<uint8_t> out(transcoder.output().total_size());
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

}  // namespace
