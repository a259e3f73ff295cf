#include "transcode/transcoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "support/fake_codecs.h"
#include "support/log_capture.h"
#include "support/settings_guard.h"
#include "transcode/stats_cache.h"

namespace {

// A Transcoder whose factories hand out the scripted fakes.
class ScriptedTranscoder : public Transcoder {
 public:
  ScriptedTranscoder(const std::string& path, std::shared_ptr<CodecScript> script)
      : Transcoder(path), script(std::move(script)) {}

  bool no_decoder = false;
  bool no_encoder = false;

 protected:
  std::unique_ptr<Decoder> create_decoder(std::string& extension) override {
    script->extension = extension;
    if (no_decoder) return nullptr;
    return std::make_unique<FakeDecoder>(script);
  }
  std::unique_ptr<Encoder> create_encoder(Buffer* target) override {
    if (no_encoder) return nullptr;
    return std::make_unique<FakeEncoder>(script, target);
  }

 private:
  std::shared_ptr<CodecScript> script;
};

// A distinct cache key per test, so the process-wide cache never mixes tests.
std::string unique_path(const std::string& stem = "song") {
  static int counter = 0;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string("/fake/") + info->test_suite_name() + "." + info->name() + "/" + stem +
         std::to_string(++counter) + ".flac";
}

std::shared_ptr<CodecScript> script_with(std::vector<int> chunks) {
  auto script = std::make_shared<CodecScript>();
  script->chunks = std::move(chunks);
  return script;
}

// What the whole output file must be for a script that rendered its tags at the
// predicted size, with the stats cache off (the head is cut or padded to the
// tail) or on (the tail moves to just after the last audio byte).
std::vector<uint8_t> expected_output(const CodecScript& script, bool cache_on) {
  const uint64_t audio = script.audio_bytes() + script.flush_bytes;
  const uint64_t head =
      cache_on ? script.tag_size + audio : std::max(script.predicted - 128, script.tag_size);
  std::vector<uint8_t> out(head, 0);
  std::fill_n(out.begin(), script.tag_size, kFakeTagByte);
  for (uint64_t i = 0; script.tag_size + i < head && i < audio; ++i) {
    out[script.tag_size + i] = fake_audio_byte(i);
  }
  out.insert(out.end(), 128, kFakeTailByte);
  return out;
}

std::vector<uint8_t> read_range(Transcoder& t, int64_t offset, uint64_t size) {
  std::vector<uint8_t> out(size);
  const int64_t n = t.read(reinterpret_cast<char*>(out.data()), offset, size);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

std::vector<uint8_t> read_in_chunks(Transcoder& t, uint64_t chunk) {
  std::vector<uint8_t> out;
  for (;;) {
    std::vector<uint8_t> piece = read_range(t, static_cast<int64_t>(out.size()), chunk);
    if (piece.empty()) return out;
    out.insert(out.end(), piece.begin(), piece.end());
  }
}

class TranscoderTest : public ::testing::Test {
 protected:
  SettingsGuard guard;
  LogCapture log{Logging::DEBUG};
};

// --- initialize ----------------------------------------------------------------

TEST_F(TranscoderTest, InitializeRendersTagsAndSizeWithoutDecoding) {
  auto script = script_with({100, 100});
  ScriptedTranscoder t("/music/a.b/Song.FLAC", script);
  ASSERT_TRUE(t.initialize());
  EXPECT_EQ(script->extension, "FLAC");  // the text after the last dot, as it is
  EXPECT_EQ(script->opened, "/music/a.b/Song.FLAC");
  EXPECT_EQ(script->known_size, 0);
  EXPECT_EQ(t.output().total_size(), script->predicted);
  EXPECT_EQ(t.output().head_size(), script->tag_size);
  EXPECT_EQ(script->decode_calls, 0);
  for (const char* line :
       {"DEBUG: Creating transcoder object for /music/a.b/Song.FLAC",
        "DEBUG: Ready to initialize decoder.", "DEBUG: Decoder initialized successfully.",
        "DEBUG: Metadata processing finished.", "DEBUG: Tag written to Buffer."}) {
    EXPECT_TRUE(log.contains(line)) << line;
  }
}

TEST_F(TranscoderTest, InitializeFailuresSetEio) {
  const struct {
    const char* name;
    const char* path;
    bool no_decoder, no_encoder;
    int open_result, read_tags_result, emit_result;
    const char* error;  // the ERROR line written, or "" for none
  } cases[] = {
      {"no dot", "/music/song", false, false, 0, 0, 0, ""},
      {"no decoder", "/music/song.wav", true, false, 0, 0, 0, ""},
      {"open fails", "/music/song.flac", false, false, -1, 0, 0, ""},
      {"no encoder", "/music/song.flac", false, true, 0, 0, 0, ""},
      {"metadata fails", "/music/song.flac", false, false, 0, -1, 0,
       "ERROR: Error processing metadata."},
      {"tag fails", "/music/song.flac", false, false, 0, 0, -1,
       "ERROR: Error rendering tag in Encoder."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture errors{Logging::ERROR};
    auto script = script_with({10});
    script->open_result = c.open_result;
    script->read_tags_result = c.read_tags_result;
    script->emit_result = c.emit_result;
    ScriptedTranscoder t(c.path, script);
    t.no_decoder = c.no_decoder;
    t.no_encoder = c.no_encoder;
    errno = 0;
    EXPECT_FALSE(t.initialize());
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(errors.text(), *c.error ? std::string(c.error) + "\n" : "");
    EXPECT_EQ(script->decode_calls, 0);
  }
}

TEST_F(TranscoderTest, RealFactoriesRefuseUnknownExtension) {
  Transcoder t("/music/song.wav");
  errno = 0;
  EXPECT_FALSE(t.initialize());
  EXPECT_EQ(errno, EIO);
}

// --- reading -------------------------------------------------------------------

TEST_F(TranscoderTest, TagsAreServedWithoutDecoding) {
  auto script = script_with({100, 100, 100});
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  const std::vector<uint8_t> expected = expected_output(*script, false);

  EXPECT_EQ(read_range(t, 0, 10), std::vector<uint8_t>(10, kFakeTagByte));
  EXPECT_EQ(read_range(t, 4096 - 128, 128), std::vector<uint8_t>(128, kFakeTailByte));
  EXPECT_EQ(read_range(t, 4000, 96), std::vector<uint8_t>(expected.end() - 96, expected.end()));
  EXPECT_EQ(read_range(t, 10, 0).size(), 0u);
  EXPECT_EQ(script->decode_calls, 0);
}

TEST_F(TranscoderTest, OffsetsPastTheEndReturnNothingWithoutDecoding) {
  auto script = script_with({100});
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  char byte = 0;
  for (int64_t offset : {int64_t{4097}, int64_t{1} << 40, int64_t{-1}}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(t.read(&byte, offset, 1), 0);
  }
  EXPECT_EQ(script->decode_calls, 0);
  EXPECT_FALSE(log.contains("Successfully read "));
}

TEST_F(TranscoderTest, ReadAheadDecodesOnlyUntilCovered) {
  auto script = script_with({100, 100, 100, 100, 100});
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  const std::vector<uint8_t> expected = expected_output(*script, false);

  // Bytes 64..263 are the first two chunks; 150 more bytes from the head's end need both.
  EXPECT_EQ(read_range(t, 64, 150),
            std::vector<uint8_t>(expected.begin() + 64, expected.begin() + 214));
  EXPECT_EQ(script->decode_calls, 2);
  EXPECT_EQ(t.output().head_size(), 264u);
  EXPECT_TRUE(log.contains("DEBUG: Reading 150 bytes from offset 64."));
  EXPECT_TRUE(log.contains("DEBUG: Successfully read 150 bytes."));

  // Already encoded: a plain copy.
  EXPECT_EQ(read_range(t, 100, 100),
            std::vector<uint8_t>(expected.begin() + 100, expected.begin() + 200));
  EXPECT_EQ(script->decode_calls, 2);
  EXPECT_TRUE(t.has_decoder());
}

TEST_F(TranscoderTest, ReadTouchingTheTailEncodesToTheEnd) {
  auto script = script_with({100, 100, 100});
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  const std::vector<uint8_t> expected = expected_output(*script, false);

  EXPECT_EQ(read_range(t, 4000, 200),
            std::vector<uint8_t>(expected.begin() + 4000, expected.end()));
  EXPECT_EQ(script->decode_calls, 4);  // three chunks, then the end
  EXPECT_EQ(script->flush_calls, 1);
  EXPECT_FALSE(t.has_decoder());
  EXPECT_FALSE(t.has_encoder());
  EXPECT_EQ(script->destroyed, (std::vector<std::string>{"decoder", "encoder"}));
  EXPECT_TRUE(log.contains("DEBUG: Finishing file. Predicted size: 4096, final size: 4096"));
  EXPECT_EQ(read_in_chunks(t, 1000), expected);
}

TEST_F(TranscoderTest, WholeFileEncoderEncodesEverythingAtFirstAudioRead) {
  auto script = script_with({100, 100, 100});
  script->whole_file = true;
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  EXPECT_EQ(read_range(t, 0, 64).size(), 64u);  // the tag alone needs no audio
  EXPECT_EQ(script->decode_calls, 0);
  EXPECT_EQ(read_range(t, 64, 1).size(), 1u);
  EXPECT_EQ(script->decode_calls, 4);
  EXPECT_FALSE(t.has_decoder());
}

TEST_F(TranscoderTest, AnyChunkingGivesTheSameBytes) {
  for (bool cache_on : {false, true}) {
    SCOPED_TRACE(cache_on ? "cache on" : "cache off");
    settings.statcachesize = cache_on ? 100 : 0;
    auto reference_script = script_with({300, 1, 777, 50, 1000, 20});
    const std::vector<uint8_t> expected = expected_output(*reference_script, cache_on);
    for (uint64_t chunk : {uint64_t{1} << 20, uint64_t{4096}, uint64_t{333}, uint64_t{7}}) {
      SCOPED_TRACE(chunk);
      auto script = script_with(reference_script->chunks);
      ScriptedTranscoder t(unique_path(), script);
      ASSERT_TRUE(t.initialize());
      EXPECT_EQ(read_in_chunks(t, chunk), expected);
    }
    // Random ranges in random order, then the whole file again.
    auto script = script_with(reference_script->chunks);
    ScriptedTranscoder t(unique_path(), script);
    ASSERT_TRUE(t.initialize());
    std::mt19937 random(42);
    for (int i = 0; i < 50; ++i) {
      const uint64_t offset = random() % expected.size();
      const uint64_t size = random() % 600;
      const std::vector<uint8_t> got = read_range(t, static_cast<int64_t>(offset), size);
      const uint64_t end = std::min<uint64_t>(offset + size, t.output().total_size());
      ASSERT_EQ(got, std::vector<uint8_t>(expected.begin() + offset, expected.begin() + end))
          << "offset " << offset << " size " << size;
    }
    EXPECT_EQ(read_in_chunks(t, 4096), expected);
  }
}

// --- failures ------------------------------------------------------------------

TEST_F(TranscoderTest, DecodingErrorFailsTheReadAndTheNextReadRetries) {
  auto script = script_with({100, 100, 100});
  script->fail_chunk = 1;
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());
  const std::vector<uint8_t> expected = expected_output(*script, false);

  char bytes[200];
  errno = 0;
  EXPECT_EQ(t.read(bytes, 64, 200), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(t.has_decoder());
  EXPECT_TRUE(t.has_encoder());
  EXPECT_EQ(read_range(t, 64, 200),
            std::vector<uint8_t>(expected.begin() + 64, expected.begin() + 264));
  EXPECT_EQ(read_in_chunks(t, 512), expected);
}

TEST_F(TranscoderTest, FailedFinishKeepsServingWhatIsThereAndFailsTheRest) {
  auto script = script_with({100, 100});
  script->flush_result = -1;
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());

  char bytes[128];
  errno = 0;
  EXPECT_EQ(t.read(bytes, 4000, 128), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(t.has_decoder());
  EXPECT_TRUE(t.has_encoder());
  EXPECT_FALSE(log.contains("Finishing file."));

  const int calls = script->decode_calls;
  EXPECT_EQ(t.read(bytes, 64, 128), 128);          // encoded before the failure
  EXPECT_EQ(t.read(bytes, 200, 128), 64);          // up to the head's end
  EXPECT_EQ(t.read(bytes, 4096 - 128, 128), 128);  // the tail
  errno = 0;
  EXPECT_EQ(t.read(bytes, 1000, 128), -1);  // the gap can no longer be produced
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(t.read(bytes, 4096, 128), 0);  // the end is still the end
  EXPECT_EQ(script->decode_calls, calls);
  EXPECT_EQ(script->flush_calls, 1);
  EXPECT_FALSE(log.contains("Invalid offset="));
}

// --- stats cache ----------------------------------------------------------------

TEST_F(TranscoderTest, FinishedSizeIsCachedAndAnnouncedNextTime) {
  settings.statcachesize = 100;
  const std::string path = unique_path();
  auto script = script_with({100, 200});
  const uint64_t exact = 64 + 300 + 16 + 128;
  {
    ScriptedTranscoder t(path, script);
    ASSERT_TRUE(t.initialize());
    EXPECT_EQ(t.output().total_size(), 4096u);
    EXPECT_EQ(read_in_chunks(t, 4096), expected_output(*script, true));
    EXPECT_EQ(t.output().total_size(), exact);
  }
  uint64_t cached = 0;
  EXPECT_TRUE(stats_cache.get_size(path, script->mtime, cached));
  EXPECT_EQ(cached, exact);

  auto again = script_with({100, 200});
  ScriptedTranscoder t(path, again);
  ASSERT_TRUE(t.initialize());
  EXPECT_EQ(again->known_size, static_cast<int64_t>(exact));
  EXPECT_EQ(t.output().total_size(), exact);

  // A source touched since then is predicted again.
  auto touched = script_with({100, 200});
  touched->mtime = script->mtime + 1;
  ScriptedTranscoder later(path, touched);
  ASSERT_TRUE(later.initialize());
  EXPECT_EQ(touched->known_size, 0);
  EXPECT_EQ(later.output().total_size(), touched->predicted);
}

TEST_F(TranscoderTest, NothingIsCachedUnlessTheSourceWasExhausted) {
  const struct {
    const char* name;
    unsigned int statcachesize;
    bool read_all;
  } cases[] = {
      {"cache off", 0, true},
      {"closed early", 100, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    settings.statcachesize = c.statcachesize;
    const std::string path = unique_path();
    auto script = script_with({100, 100});
    {
      ScriptedTranscoder t(path, script);
      ASSERT_TRUE(t.initialize());
      read_range(t, 64, c.read_all ? 4096 : 100);
    }
    settings.statcachesize = 100;
    uint64_t cached = 0;
    EXPECT_FALSE(stats_cache.get_size(path, script->mtime, cached));
    EXPECT_EQ(script->flush_calls, c.read_all ? 1 : 0);
  }
}

// --- threads -------------------------------------------------------------------

TEST_F(TranscoderTest, ConcurrentReadersSeeTheSequentialBytes) {
  auto reference = script_with(std::vector<int>(40, 97));
  const std::vector<uint8_t> expected = expected_output(*reference, false);
  auto script = script_with(reference->chunks);
  ScriptedTranscoder t(unique_path(), script);
  ASSERT_TRUE(t.initialize());

  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int id = 0; id < 4; ++id) {
    threads.emplace_back([&, id] {
      std::mt19937 random(id);
      for (int i = 0; i < 60; ++i) {
        const uint64_t offset = random() % expected.size();
        const uint64_t size = 1 + random() % 300;
        const std::vector<uint8_t> got = read_range(t, static_cast<int64_t>(offset), size);
        const uint64_t end = std::min<uint64_t>(offset + size, expected.size());
        if (got != std::vector<uint8_t>(expected.begin() + offset, expected.begin() + end)) {
          ++mismatches[id];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
  EXPECT_EQ(read_in_chunks(t, 4096), expected);
}

TEST_F(TranscoderTest, ConcurrentTranscodersShareOneSmallCache) {
  settings.statcachesize = 3;
  constexpr int kThreads = 4;
  constexpr int kFiles = 6;
  std::vector<std::string> paths;
  for (int i = 0; i < kThreads * kFiles; ++i) paths.push_back(unique_path());
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      for (int f = 0; f < kFiles; ++f) {
        auto script = script_with({50 + id * 10 + f, 30});
        ScriptedTranscoder t(paths[id * kFiles + f], script);
        if (!t.initialize() || read_in_chunks(t, 700) != expected_output(*script, true)) {
          ++failures[id];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  // Whatever survived the prunes holds the exact size of its own file.
  for (int id = 0; id < kThreads; ++id) {
    for (int f = 0; f < kFiles; ++f) {
      uint64_t cached = 0;
      if (stats_cache.get_size(paths[id * kFiles + f], 1000, cached)) {
        EXPECT_EQ(cached, 64u + (50 + id * 10 + f) + 30 + 16 + 128);
      }
    }
  }
}

}  // namespace
