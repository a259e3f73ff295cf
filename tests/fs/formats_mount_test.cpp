// Sources of every kind a player opens, through a real mount: the containers read through
// FFmpeg, DSD, surround FLAC and Vorbis, a misnamed file, a damaged cover, odd but valid
// streams, and directories where several sources would show under one name.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/id3_reader.h"
#include "support/mount.h"
#include "support/mp3_decode.h"
#include "support/tool_fixtures.h"

namespace {

using fixtures::AudioSpec;
using fixtures::Tool;

constexpr int kCommandTimeoutMs = 60000;

std::vector<std::string> listing(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Least-squares fit of sines at the given frequencies to pcm[from, from + count).
// Returns the energy the fit leaves unexplained and the fitted amplitude of each sine.
struct Fit {
  double total = 0;     // energy of the window
  double residual = 0;  // energy left after the fit
  std::vector<double> amplitudes;
};

Fit fit_sines(const std::vector<int16_t>& pcm, size_t from, size_t count, long rate,
              const std::vector<double>& frequencies) {
  const size_t n = 2 * frequencies.size();
  std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
  auto basis = [&](size_t k, size_t i) {
    const double phase = 2 * M_PI * frequencies[k / 2] * static_cast<double>(i) / rate;
    return k % 2 ? std::cos(phase) : std::sin(phase);
  };
  Fit fit;
  for (size_t i = from; i < from + count; ++i) {
    const double y = pcm[i];
    fit.total += y * y;
    for (size_t r = 0; r < n; ++r) {
      const double br = basis(r, i);
      for (size_t c = 0; c < n; ++c) a[r][c] += br * basis(c, i);
      a[r][n] += br * y;
    }
  }
  // Gaussian elimination with partial pivoting on the normal equations.
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t r = col + 1; r < n; ++r) {
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    }
    std::swap(a[col], a[pivot]);
    for (size_t r = 0; r < n; ++r) {
      if (r == col || a[col][col] == 0) continue;
      const double factor = a[r][col] / a[col][col];
      for (size_t c = col; c <= n; ++c) a[r][c] -= factor * a[col][c];
    }
  }
  std::vector<double> x(n);
  for (size_t r = 0; r < n; ++r) x[r] = a[r][r] != 0 ? a[r][n] / a[r][r] : 0;
  for (size_t i = from; i < from + count; ++i) {
    double model = 0;
    for (size_t k = 0; k < n; ++k) model += x[k] * basis(k, i);
    fit.residual += (pcm[i] - model) * (pcm[i] - model);
  }
  for (size_t k = 0; k < n; k += 2) fit.amplitudes.push_back(std::hypot(x[k], x[k + 1]));
  return fit;
}

struct SoundMeasure {
  double worst_error_db = -300;  // error energy against the window's energy, worst window
  double quietest_db = 300;      // window RMS against full scale, quietest window
};

// Windows of 50 ms on every channel, clear of either end by the encoder's delay (two frames
// of samples, whatever the rate) and 50 ms more for the onset and end of the sine.
SoundMeasure measure(const DecodedMp3& decoded, const std::vector<double>& frequencies) {
  SoundMeasure m;
  const size_t window = static_cast<size_t>(decoded.sample_rate / 20);
  const size_t margin = 2 * 1152 + window;
  for (const auto& channel : decoded.pcm) {
    for (size_t from = margin; from + window + margin <= channel.size(); from += window) {
      const Fit fit = fit_sines(channel, from, window, decoded.sample_rate, frequencies);
      const double rms = std::sqrt(fit.total / static_cast<double>(window)) / 32768.0;
      m.quietest_db = std::min(m.quietest_db, 20 * std::log10(std::max(rms, 1e-12)));
      m.worst_error_db = std::max(m.worst_error_db, 10 * std::log10(std::max(fit.residual, 1e-9) /
                                                                    std::max(fit.total, 1e-9)));
    }
  }
  return m;
}

std::vector<double> frequencies_of(const AudioSpec& spec) {
  std::vector<double> out;
  for (unsigned c = 0; c < spec.channels; ++c) out.push_back(spec.frequency * (c + 1));
  return out;
}

enum class Sound { Sines, Silent, Any };

struct Source {
  const char* name;
  const char* title;
  AudioSpec spec;
  Sound sound;
  // Writes the file from spec (a scratch WAV of spec is at wav); false when it could not.
  std::function<bool(const std::string& wav, const std::string& path, const Source&)> make;
};

AudioSpec spec_of(unsigned rate, unsigned channels, unsigned bits, double seconds,
                  double amplitude = 0.5) {
  AudioSpec spec;
  spec.sample_rate = rate;
  spec.channels = channels;
  spec.bits_per_sample = bits;
  spec.total_samples = static_cast<uint64_t>(seconds * rate);
  spec.amplitude = amplitude;
  return spec;
}

auto by_tool(Tool tool) {
  return [tool](const std::string& wav, const std::string& path, const Source& s) {
    return fixtures::encode_with_tool(tool, wav, path, {s.title, "The Band", "The Album", "3"});
  };
}

// A raw stream has nowhere for tags but an ID3v2 tag before it, which players read.
auto raw_by_tool(Tool tool) {
  return [tool](const std::string& wav, const std::string& path, const Source& s) {
    if (!fixtures::encode_with_tool(tool, wav, path, {})) return false;
    std::vector<uint8_t> bytes = fixtures::id3v2_title(s.title);
    const std::vector<uint8_t> stream = fixtures::read_file(path);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return fixtures::write_file(path, bytes);
  };
}

bool flac_of(const std::string&, const std::string& path, const Source& s) {
  return fixtures::write_flac(path, s.spec, {std::string("TITLE=") + s.title});
}

bool vorbis_of(const std::string&, const std::string& path, const Source& s) {
  return fixtures::write_vorbis(path, s.spec, {std::string("TITLE=") + s.title}, 0.5f);
}

// A cover whose METADATA_BLOCK_PICTURE is not base64, beside good tags.
bool vorbis_with_damaged_cover(const std::string&, const std::string& path, const Source& s) {
  fixtures::Picture cover;
  cover.data = fixtures::solid_png(2, 2, 0xff0000);
  std::string value = fixtures::base64(fixtures::picture_block(cover));
  value.insert(value.size() / 2, "!\n");
  return fixtures::write_vorbis(
      path, s.spec, {std::string("TITLE=") + s.title, "METADATA_BLOCK_PICTURE=" + value}, 0.5f);
}

const Source kSources[] = {
    {"asf.wma", "Asf", spec_of(44100, 2, 16, 1), Sound::Sines, by_tool(Tool::Wma)},
    {"upper.WMA", "Upper", spec_of(44100, 2, 16, 1), Sound::Sines, by_tool(Tool::Wma)},
    {"matroska.mka", "Matroska", spec_of(44100, 2, 16, 1), Sound::Sines,
     by_tool(Tool::MatroskaFlac)},
    {"webm.webm", "Webm", spec_of(48000, 2, 16, 1), Sound::Sines, by_tool(Tool::WebmOpus)},
    {"adts.aac", "Adts", spec_of(44100, 2, 16, 1), Sound::Sines, raw_by_tool(Tool::Adts)},
    {"ac3.ac3", "Ac3", spec_of(48000, 2, 16, 1), Sound::Sines, raw_by_tool(Tool::Ac3)},
    {"dts.dts", "Dts", spec_of(48000, 2, 16, 1), Sound::Sines, raw_by_tool(Tool::Dts)},
    {"musepack.mpc", "Musepack", spec_of(44100, 2, 16, 1), Sound::Sines, by_tool(Tool::Musepack)},
    {"dsd.dsf", "Dsd", spec_of(44100, 2, 16, 1), Sound::Sines,
     [](const std::string&, const std::string& path, const Source& s) {
       return fixtures::write_dsf(path, s.spec, s.title);
     }},
    {"surround-flac.flac", "Surround Flac", spec_of(44100, 6, 16, 1), Sound::Sines, flac_of},
    {"surround-vorbis.ogg", "Surround Vorbis", spec_of(44100, 6, 16, 1), Sound::Sines, vorbis_of},
    {"eight.flac", "Eight Channels", spec_of(48000, 8, 24, 1), Sound::Sines, flac_of},
    {"three.ogg", "Three Channels", spec_of(44100, 3, 16, 1), Sound::Sines, vorbis_of},
    // A WAV that a copying tool left under a FLAC name.
    {"misnamed.flac", "Misnamed", spec_of(44100, 2, 16, 1), Sound::Sines, by_tool(Tool::Wav)},
    {"damaged-cover.ogg", "Damaged Cover", spec_of(44100, 2, 16, 1), Sound::Sines,
     vorbis_with_damaged_cover},
    {"mono8k.flac", "Mono 8k", spec_of(8000, 1, 16, 1), Sound::Sines, flac_of},
    {"mono32k.flac", "Mono 32k", spec_of(32000, 1, 16, 1), Sound::Sines, flac_of},
    {"deep24.flac", "Deep 24", spec_of(44100, 2, 24, 1), Sound::Sines, flac_of},
    {"deep32.flac", "Deep 32", spec_of(44100, 2, 32, 1), Sound::Sines, flac_of},
    {"rate96k.flac", "Rate 96k", spec_of(96000, 2, 24, 1), Sound::Sines, flac_of},
    {"rate192k.flac", "Rate 192k", spec_of(192000, 2, 24, 1), Sound::Sines, flac_of},
    {"rate384k.flac", "Rate 384k", spec_of(384000, 2, 24, 1), Sound::Sines, flac_of},
    {"single.flac", "Single", spec_of(44100, 2, 16, 1.0 / 44100), Sound::Any, flac_of},
    {"silence.flac", "Silence", spec_of(44100, 2, 16, 1, 0.0), Sound::Silent, flac_of},
};

// The first string of the output's TIT2 frame, or empty.
std::string title_of(const std::vector<uint8_t>& mp3) {
  const auto tag = id3_reader::parse_id3v2(mp3);
  const id3_reader::Frame* frame = tag ? tag->find("TIT2") : nullptr;
  const auto text = frame ? id3_reader::parse_text_frame(*frame) : std::nullopt;
  return text && !text->strings.empty() ? text->strings[0] : std::string();
}

std::string mp3_of(const std::string& name) {
  return name.substr(0, name.rfind('.')) + ".mp3";
}

class FormatsMounted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    source = std::make_unique<fixtures::TempDir>();
    // Outside the source tree, and named .wav, which mpcenc insists on.
    fixtures::TempDir scratch;
    const std::string wav = scratch / "source.wav";
    for (const Source& s : kSources) {
      ASSERT_TRUE(fixtures::write_wav(wav, s.spec)) << s.name;
      ASSERT_TRUE(s.make(wav, *source / s.name, s)) << s.name;
    }
  }

  static void TearDownTestSuite() { source.reset(); }

  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    mount = std::make_unique<Mount>(source->path());
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  static std::unique_ptr<fixtures::TempDir> source;
  std::unique_ptr<Mount> mount;
};

std::unique_ptr<fixtures::TempDir> FormatsMounted::source;

TEST_F(FormatsMounted, EachSourceIsListedAndReadsToItsStatSizeLengthSoundAndTitle) {
  const std::vector<std::string> names = listing(mount->point());
  for (const Source& s : kSources) {
    SCOPED_TRACE(s.name);
    const std::string mp3 = mp3_of(s.name);
    EXPECT_EQ(std::count(names.begin(), names.end(), mp3), 1);
    struct stat record = {};
    ASSERT_EQ(stat((*mount / mp3).c_str(), &record), 0) << strerror(errno);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(read_all(*mount / mp3, bytes), 0);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(record.st_size));

    const DecodedMp3 decoded = decode_mp3(bytes);
    ASSERT_TRUE(decoded.clean()) << decoded.errors << " errors";
    EXPECT_EQ(decoded.channels, s.spec.channels == 1 ? 1 : 2);
    // The information frame trims the encoder's delay and padding to the length the source
    // announces, which a container without a sample count (WMA) only estimates; without it
    // they come to at most two frames more. A lossy source's own priming adds one more.
    const double frame = (decoded.sample_rate < 32000 ? 576.0 : 1152.0) / decoded.sample_rate;
    const double seconds = static_cast<double>(decoded.frames()) / decoded.sample_rate;
    const double source_seconds = static_cast<double>(s.spec.total_samples) / s.spec.sample_rate;
    EXPECT_GE(seconds, source_seconds - frame);
    EXPECT_LE(seconds, source_seconds + 3 * frame);

    const SoundMeasure m = measure(decoded, frequencies_of(s.spec));
    if (s.sound == Sound::Sines) {
      EXPECT_GT(m.quietest_db, -30.0);
      EXPECT_LT(m.worst_error_db, -20.0);
    } else if (s.sound == Sound::Silent) {
      EXPECT_LT(m.quietest_db, -90.0);
    }
    EXPECT_EQ(title_of(bytes), s.title);
  }
}

// The fitted amplitude of the first sine in the middle 200 ms of the left channel.
double middle_amplitude(const DecodedMp3& decoded, double frequency) {
  const size_t count = static_cast<size_t>(decoded.sample_rate / 5);
  const size_t from = decoded.frames() / 2 - count / 2;
  return fit_sines(decoded.pcm[0], from, count, decoded.sample_rate, {frequency}).amplitudes[0];
}

// DSD's full modulation is PCM's full scale: a DSD sine at half modulation comes out as loud
// as a PCM sine at half scale (so SACD's 0 dB reference lands at -6 dBFS).
TEST_F(FormatsMounted, DsdKeepsTheLevelOfPcm) {
  std::vector<uint8_t> dsd, pcm;
  ASSERT_EQ(read_all(*mount / "dsd.mp3", dsd), 0);
  ASSERT_EQ(read_all(*mount / "deep24.mp3", pcm), 0);
  const DecodedMp3 from_dsd = decode_mp3(dsd), from_pcm = decode_mp3(pcm);
  ASSERT_TRUE(from_dsd.clean() && from_pcm.clean());
  EXPECT_EQ(from_dsd.sample_rate, 44100);
  const double dsd_level = middle_amplitude(from_dsd, 440);
  const double pcm_level = middle_amplitude(from_pcm, 440);
  EXPECT_NEAR(20 * std::log10(dsd_level / pcm_level), 0.0, 0.5)
      << dsd_level << " against " << pcm_level;
}

// The ASF header of a WMA with a content encryption object added, as DRM leaves it; the
// audio itself stays readable, so only the check of the header can refuse it.
std::vector<uint8_t> protect(std::vector<uint8_t> asf) {
  const uint8_t guid[] = {0xfb, 0xb3, 0x11, 0x22, 0x23, 0xbd, 0xd2, 0x11,
                          0xb4, 0xb7, 0x00, 0xa0, 0xc9, 0x55, 0xfc, 0x6e};
  std::vector<uint8_t> object(guid, guid + sizeof guid);
  std::vector<uint8_t> payload;
  auto field = [&payload](const std::string& text) {
    const uint32_t size = static_cast<uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(size >> (8 * i)));
    payload.insert(payload.end(), text.begin(), text.end());
  };
  field("secret");
  field(std::string("DRM", 4));
  field("key");
  field(std::string("http://licence.invalid/", 24));
  const uint64_t size = 24 + payload.size();
  for (int i = 0; i < 8; ++i) object.push_back(static_cast<uint8_t>(size >> (8 * i)));
  object.insert(object.end(), payload.begin(), payload.end());

  auto add_le = [&asf](size_t at, int bytes, uint64_t amount) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | asf[at + i];
    value += amount;
    for (int i = 0; i < bytes; ++i) asf[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  add_le(16, 8, object.size());  // the header object's size
  add_le(24, 4, 1);              // and its count of objects
  asf.insert(asf.begin() + 30, object.begin(), object.end());
  return asf;
}

TEST(ProtectedWma, IsEioWithOneClearErrorLine) {
  SKIP_WITHOUT_FUSE();
  fixtures::TempDir source;
  fixtures::TempDir scratch;
  const std::string wav = scratch / "source.wav";
  ASSERT_TRUE(fixtures::write_wav(wav, spec_of(44100, 2, 16, 1)));
  ASSERT_TRUE(
      fixtures::encode_with_tool(Tool::Wma, wav, source / "open.wma", {"Open", "", "", ""}));
  ASSERT_TRUE(fixtures::write_file(source / "locked.wma",
                                   protect(fixtures::read_file(source / "open.wma"))));
  fixtures::TempDir logs;
  const std::string log = logs / "olvex.log";
  Mount mount(source.path(), {"--logfile=" + log, "--log_maxlevel=ERROR"});
  ASSERT_TRUE(mount.live()) << mount.output();

  std::vector<uint8_t> bytes;
  EXPECT_EQ(read_all(mount / "open.mp3", bytes), 0) << "the same file unprotected plays";
  struct stat record = {};
  ASSERT_NE(stat((mount / "locked.mp3").c_str(), &record), 0);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(mount.unmount(), 0);

  std::ifstream in(log);
  std::vector<std::string> errors;
  for (std::string line; std::getline(in, line);) {
    if (line.find("ERROR") != std::string::npos) errors.push_back(line);
  }
  ASSERT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
  EXPECT_NE(errors[0].find("DRM"), std::string::npos) << errors[0];
}

// Two directories of the same names created in opposite orders, so that neither the
// directory's order nor the order of creation can pick the winner.
class NameCollisions : public ::testing::Test {
 protected:
  static constexpr const char* kRealMp3 = "a real MP3 made elsewhere";

  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    const AudioSpec spec = spec_of(44100, 2, 16, 0.5);
    for (const char* dir : {"forward", "backward"}) {
      const std::string d = source / dir;
      ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
      const bool forward = std::string(dir) == "forward";
      std::vector<std::function<bool()>> makers = {
          [&] { return fixtures::write_vorbis(d + "/song.ogg", spec, {"TITLE=Ogg"}); },
          [&] { return fixtures::write_flac(d + "/song.flac", spec, {"TITLE=Flac"}); },
          [&] { return fixtures::write_flac(d + "/take.flac", spec, {"TITLE=Take"}); },
          [&] {
            return fixtures::write_file(d + "/take.mp3",
                                        {kRealMp3, kRealMp3 + std::strlen(kRealMp3)});
          },
          [&] { return fixtures::write_flac(d + "/solo.FLAC", spec, {"TITLE=Solo"}); },
      };
      if (!forward) std::reverse(makers.begin(), makers.end());
      for (const auto& make : makers) ASSERT_TRUE(make());
    }
    mount = std::make_unique<Mount>(source.path());
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  // The tree as read through the mirror at root: each name, its size by stat and what
  // it holds (an MP3's title, or the bytes of anything else).
  static std::map<std::string, std::string> contents(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const std::string& name : listing(root)) {
      const std::string path = root + "/" + name;
      std::vector<uint8_t> bytes;
      struct stat record = {};
      if (stat(path.c_str(), &record) != 0 || read_all(path, bytes) != 0) {
        out[name] = "unreadable";
        continue;
      }
      const std::string title = title_of(bytes);
      out[name] = (title.empty() ? std::string(bytes.begin(), bytes.end()) : "title " + title) +
                  (static_cast<size_t>(record.st_size) == bytes.size() ? "" : " (stat differs)");
    }
    return out;
  }

  fixtures::TempDir source;
  std::unique_ptr<Mount> mount;
};

TEST_F(NameCollisions, OneNameOneFileTheSameWhicheverWayItIsReached) {
  const std::map<std::string, std::string> expected = {
      {"song.mp3", "title Flac"}, {"take.mp3", kRealMp3}, {"solo.mp3", "title Solo"}};
  for (const char* dir : {"forward", "backward"}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(listing(*mount / dir),
              (std::vector<std::string>{"solo.mp3", "song.mp3", "take.mp3"}));
    EXPECT_EQ(contents(*mount / dir), expected);

    fixtures::TempDir copy;
    std::string output;
    ASSERT_EQ(
        run_command({"rsync", "-a", *mount / dir + "/", copy.path()}, kCommandTimeoutMs, &output),
        0)
        << output;
    EXPECT_EQ(contents(copy.path()), expected);
  }
}

}  // namespace
