// The Transcoder with the real decoders and MP3 encoder, on FLAC and Ogg
// Vorbis files written for each test.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/fixtures.h"
#include "support/id3_reader.h"
#include "support/info_tag.h"
#include "support/log_capture.h"
#include "support/mp3_decode.h"
#include "support/settings_guard.h"
#include "transcode/stats_cache.h"
#include "transcode/transcoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_range(Transcoder& t, int64_t offset, uint64_t size) {
  Bytes out(size);
  const int64_t n = t.read(reinterpret_cast<char*>(out.data()), offset, size);
  EXPECT_GE(n, 0) << "read at " << offset << " failed, errno " << errno;
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

Bytes read_in_chunks(Transcoder& t, uint64_t chunk) {
  Bytes out;
  for (;;) {
    Bytes piece = read_range(t, static_cast<int64_t>(out.size()), chunk);
    if (piece.empty()) return out;
    out.insert(out.end(), piece.begin(), piece.end());
  }
}

bool make_source(const std::string& path, bool flac, uint64_t samples = 64100) {
  fixtures::AudioSpec spec;
  spec.total_samples = samples;
  const fixtures::Comments comments{"TITLE=Lazy Song", "ARTIST=Olvex Tests", "TRACKNUMBER=3"};
  return flac ? fixtures::write_flac(path, spec, comments)
              : fixtures::write_vorbis(path, spec, comments);
}

struct Mode {
  const char* name;
  bool flac;
  bool vbr;
  bool cache;
};

const Mode kModes[] = {
    {"flac_cbr", true, false, false},         {"flac_vbr", true, true, false},
    {"vorbis_cbr", false, false, false},      {"vorbis_vbr", false, true, false},
    {"flac_cbr_cache", true, false, true},    {"flac_vbr_cache", true, true, true},
    {"vorbis_cbr_cache", false, false, true}, {"vorbis_vbr_cache", false, true, true},
};

class TranscoderFiles : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    // How far one continuous encoding goes for each read; segments have tests of their own.
    settings.segments = 0;
    settings.vbr = GetParam().vbr ? 1 : 0;
    settings.statcachesize = GetParam().cache ? 100 : 0;
    source = dir / (std::string("song.") + (GetParam().flac ? "flac" : "ogg"));
    ASSERT_TRUE(make_source(source, GetParam().flac));
  }

  // The whole output as one sequential read of a fresh Transcoder.
  Bytes reference() {
    Transcoder t(source);
    EXPECT_TRUE(t.initialize());
    return read_in_chunks(t, 1 << 24);
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
  std::string source;
};

TEST_P(TranscoderFiles, InitializeRendersBothTagsAndDecodesNothing) {
  Transcoder t(source);
  ASSERT_TRUE(t.initialize());
  const uint64_t size = t.output().total_size();
  const uint64_t head = t.output().head_size();
  ASSERT_GT(size, head + 128);

  const Bytes front = read_range(t, 0, head);
  const auto id3v2 = id3_reader::parse_id3v2(front);
  ASSERT_TRUE(id3v2.has_value());
  // The head is the tag and, for CBR, the information frame: no audio yet.
  if (GetParam().vbr) {
    EXPECT_EQ(id3v2->total_size, head);
  } else {
    InfoTag info;
    ASSERT_TRUE(read_info_tag(front, id3v2->total_size, info));
    EXPECT_EQ(id3v2->total_size + info.frame_length, head);
  }

  const auto id3v1 = id3_reader::parse_id3v1(read_range(t, size - 128, 128));
  ASSERT_TRUE(id3v1.has_value());
  EXPECT_EQ(id3v1->title, "Lazy Song");

  EXPECT_EQ(t.output().head_size(), head);
  EXPECT_TRUE(t.has_decoder());
}

TEST_P(TranscoderFiles, ReadJustPastTheHeadDecodesOnlyAsFarAsNeeded) {
  Transcoder t(source);
  ASSERT_TRUE(t.initialize());
  const uint64_t head = t.output().head_size();
  EXPECT_EQ(read_range(t, static_cast<int64_t>(head), 1000).size(), 1000u);
  if (GetParam().vbr) {
    EXPECT_FALSE(t.has_decoder());  // the encoder wants the whole file first
  } else {
    EXPECT_GE(t.output().head_size(), head + 1000);
    EXPECT_LT(t.output().head_size(), t.output().tail_offset());
    EXPECT_TRUE(t.has_decoder());
  }
}

TEST_P(TranscoderFiles, ReadTouchingTheTailEncodesToTheEnd) {
  Transcoder t(source);
  ASSERT_TRUE(t.initialize());
  const uint64_t announced = t.output().total_size();
  const Bytes got = read_range(t, static_cast<int64_t>(announced - 200), 200);
  EXPECT_FALSE(t.has_decoder());
  EXPECT_FALSE(t.has_encoder());
  const uint64_t final_size = t.output().total_size();
  if (!GetParam().cache) {
    EXPECT_EQ(final_size, announced);
  }
  const uint64_t expected = final_size > announced - 200 ? final_size - (announced - 200) : 0;
  EXPECT_EQ(got.size(), std::min<uint64_t>(200, expected));

  const Bytes whole = read_in_chunks(t, 1 << 20);
  ASSERT_EQ(whole.size(), final_size);
  EXPECT_TRUE(id3_reader::parse_id3v1(Bytes(whole.end() - 128, whole.end())).has_value());
  // Without the cache a VBR stream shorter than predicted is padded with zeros,
  // which are no MP3 frames; the decoder gets only what the encoder wrote.
  Bytes stream(whole.begin(), whole.end() - 128);
  while (!stream.empty() && stream.back() == 0) stream.pop_back();
  const DecodedMp3 audio = decode_mp3(stream);
  EXPECT_TRUE(audio.clean());
  EXPECT_EQ(audio.sample_rate, 44100);
}

TEST_P(TranscoderFiles, AnyChunkingAndOrderGivesTheSequentialBytes) {
  const Bytes expected = reference();
  ASSERT_FALSE(expected.empty());
  for (uint64_t chunk : {uint64_t{4096}, uint64_t{1000}, uint64_t{65536}}) {
    SCOPED_TRACE(chunk);
    Transcoder t(source);
    ASSERT_TRUE(t.initialize());
    EXPECT_EQ(read_in_chunks(t, chunk), expected);
  }

  // Random ranges first; each answer must be the reference bytes at its offset.
  Transcoder t(source);
  ASSERT_TRUE(t.initialize());
  std::mt19937 random(7);
  for (int i = 0; i < 40; ++i) {
    const uint64_t offset = random() % expected.size();
    const uint64_t size = 1 + random() % 5000;
    const Bytes got = read_range(t, static_cast<int64_t>(offset), size);
    ASSERT_LE(offset + got.size(), expected.size());
    ASSERT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + offset))
        << "offset " << offset << " size " << size;
  }
  EXPECT_EQ(read_in_chunks(t, 3333), expected);
}

TEST_P(TranscoderFiles, ExactSizeIsRememberedOnlyWithTheCache) {
  uint64_t announced = 0;
  uint64_t final_size = 0;
  Bytes first;
  {
    Transcoder t(source);
    ASSERT_TRUE(t.initialize());
    announced = t.output().total_size();
    first = read_in_chunks(t, 1 << 20);
    final_size = t.output().total_size();
  }
  uint64_t cached = 0;
  const bool found = stats_cache.get_size(source, INT64_MIN, cached);
  if (!GetParam().cache) {
    EXPECT_FALSE(found);
    EXPECT_EQ(final_size, announced);
    return;
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(cached, final_size);

  {
    Transcoder again(source);
    ASSERT_TRUE(again.initialize());
    EXPECT_EQ(again.output().total_size(), final_size);
    EXPECT_EQ(read_in_chunks(again, 1 << 20), first);
    EXPECT_EQ(again.output().total_size(), final_size);
  }

  // A touched source is predicted again.
  const timeval later[2] = {{time(nullptr) + 100, 0}, {time(nullptr) + 100, 0}};
  ASSERT_EQ(utimes(source.c_str(), later), 0);
  Transcoder touched(source);
  ASSERT_TRUE(touched.initialize());
  EXPECT_EQ(touched.output().total_size(), announced);
}

INSTANTIATE_TEST_SUITE_P(Modes, TranscoderFiles, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- failures with real files ----------------------------------------------------

class TranscoderFileFailures : public ::testing::Test {
 protected:
  SettingsGuard guard;
  fixtures::TempDir dir;
};

TEST_F(TranscoderFileFailures, BadSourcesFailToInitialize) {
  const struct {
    const char* name;
    const char* file;
    Bytes contents;  // empty: the file is not created
    const char* error;
  } cases[] = {
      {"missing flac", "a.flac", {}, ""},
      {"missing ogg", "a.ogg", {}, ""},
      {"flac without blocks", "b.flac", {'f', 'L', 'a', 'C'}, "ERROR: Error processing metadata."},
      {"flac with a bad block",
       "c.flac",
       {'f', 'L', 'a', 'C', 0xFF, 0, 0, 1, 0},
       "ERROR: Error processing metadata."},
      {"not vorbis", "d.ogg", Bytes(200, 'x'), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.file;
    if (!c.contents.empty()) {
      ASSERT_TRUE(fixtures::write_file(path, c.contents));
    }
    LogCapture log{Logging::ERROR};
    Transcoder t(path);
    errno = 0;
    EXPECT_FALSE(t.initialize());
    EXPECT_EQ(errno, EIO);
    if (*c.error) {
      EXPECT_TRUE(log.contains(c.error)) << log.text();
    } else {
      EXPECT_FALSE(log.contains("Error processing metadata.")) << log.text();
    }
  }
}

// Reads everything, retrying failed reads a few times; the Transcoder must
// either deliver or keep failing cleanly with EIO.
struct Outcome {
  Bytes bytes;
  int failures = 0;
  bool gave_up = false;
};

Outcome read_tolerantly(Transcoder& t, uint64_t chunk) {
  Outcome out;
  for (int attempts = 0; attempts < 200;) {
    Bytes piece(chunk);
    errno = 0;
    const int64_t n = t.read(reinterpret_cast<char*>(piece.data()),
                             static_cast<int64_t>(out.bytes.size()), chunk);
    if (n < 0) {
      EXPECT_EQ(errno, EIO);
      ++out.failures;
      ++attempts;
      continue;
    }
    if (n == 0) return out;
    out.bytes.insert(out.bytes.end(), piece.begin(), piece.begin() + n);
  }
  out.gave_up = true;
  return out;
}

// The decoder resynchronises past spoilt pages (failed reads would be retried),
// and the file keeps its announced size.
TEST_F(TranscoderFileFailures, DamagedVorbisAudioStillGivesTheWholeFile) {
  const std::string path = dir / "damaged.ogg";
  ASSERT_TRUE(make_source(path, false, 3 * 44100));
  Bytes bytes = fixtures::read_file(path);
  // Spoil runs across the audio pages: their checksums fail and pages go missing.
  for (size_t at = bytes.size() * 2 / 5; at < bytes.size() * 3 / 5; at += bytes.size() / 10) {
    std::fill(bytes.begin() + at, bytes.begin() + at + 64, 0x55);
  }
  ASSERT_TRUE(fixtures::write_file(path, bytes));

  // A continuous encoding pads past damage; segments fail what lies behind it instead.
  settings.segments = 0;
  Transcoder t(path);
  ASSERT_TRUE(t.initialize());
  const uint64_t size = t.output().total_size();
  const Outcome out = read_tolerantly(t, 16384);
  EXPECT_FALSE(out.gave_up);
  EXPECT_EQ(out.bytes.size(), size);
  EXPECT_FALSE(t.has_decoder());
}

TEST_F(TranscoderFileFailures, SourceChangedAfterInitialize) {
  const struct {
    const char* name;
    bool flac;
    bool remove;  // otherwise truncate to a third
  } cases[] = {
      {"flac removed", true, true},
      {"ogg removed", false, true},
      {"flac truncated", true, false},
      {"ogg truncated", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / (std::string("changing.") + (c.flac ? "flac" : "ogg"));
    ASSERT_TRUE(make_source(path, c.flac));
    const auto length = fixtures::read_file(path).size();
    Transcoder t(path);
    ASSERT_TRUE(t.initialize());
    const uint64_t size = t.size();
    if (c.remove) {
      ASSERT_EQ(unlink(path.c_str()), 0);
    } else {
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length / 3)), 0);
    }
    const Outcome out = read_tolerantly(t, 16384);
    if (c.remove) {
      // The open source stays readable.
      EXPECT_EQ(out.failures, 0);
      EXPECT_EQ(out.bytes.size(), size);
    } else {
      EXPECT_LE(out.bytes.size(), size);
    }
    // Either way the tags still come back at once.
    EXPECT_EQ(read_range(t, 0, 3), (Bytes{'I', 'D', '3'}));
    unlink(path.c_str());
  }
}

// --- folder covers and the stats cache --------------------------------------------

void set_mtime(const std::string& path, time_t when) {
  const timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0) << path;
}

// A remembered exact size was made with one cover file; another cover, or none, makes
// it stale, while the source itself has not changed.
TEST(TranscoderFolderCover, ARememberedSizeDoesNotOutliveItsCover) {
  SettingsGuard guard;
  settings.covers = "folder";
  settings.statcachesize = 100;
  fixtures::TempDir dir;
  const std::string source = dir / "covered.flac";
  const std::string cover = dir / "cover.jpg";
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0};
  ASSERT_TRUE(make_source(source, true));
  ASSERT_TRUE(fixtures::write_file(cover, jpeg));
  const time_t past = time(nullptr) - 100;
  for (const std::string& path : {source, cover, dir.path()}) set_mtime(path, past);

  auto exact_size = [&] {
    Transcoder t(source);
    EXPECT_TRUE(t.initialize());
    return read_in_chunks(t, 1 << 20).size();
  };
  auto announced_size = [&] {
    Transcoder t(source);
    EXPECT_TRUE(t.initialize());
    return t.size();
  };
  const uint64_t first = exact_size();
  EXPECT_EQ(announced_size(), first);

  // The same source with a cover 1000 bytes longer: its tag grows by exactly that much.
  jpeg.resize(jpeg.size() + 1000, 0x42);
  ASSERT_TRUE(fixtures::write_file(cover, jpeg));
  set_mtime(cover, past + 10);
  EXPECT_NE(announced_size(), first);
  const uint64_t second = exact_size();
  EXPECT_EQ(second, first + 1000);
  EXPECT_EQ(announced_size(), second);

  // Without the cover the directory has changed.
  ASSERT_EQ(unlink(cover.c_str()), 0);
  set_mtime(dir.path(), past + 20);
  EXPECT_NE(announced_size(), second);
}

}  // namespace
