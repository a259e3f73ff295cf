#include "transcode/shared_transcodes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/settings_guard.h"
#include "transcode/output_key.h"

namespace {

std::vector<char> read_all(Reader& reader) {
  std::vector<char> out;
  std::vector<char> chunk(8192);
  for (int64_t n;
       (n = reader.read(chunk.data(), static_cast<int64_t>(out.size()), chunk.size())) > 0;) {
    out.insert(out.end(), chunk.begin(), chunk.begin() + n);
  }
  return out;
}

size_t encoder_setups(const LogCapture& log) {
  const auto lines = log.lines();
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("LAME initialized.") != std::string::npos;
  }));
}

class SharedTranscodesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixtures::AudioSpec spec;
    spec.total_samples = 44100;
    ASSERT_TRUE(fixtures::write_flac(path, spec, {"TITLE=Shared"}));
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    identity = SourceIdentity::of(st);
  }

  SettingsGuard guard;
  fixtures::TempDir dir;
  const std::string path = dir / "song.flac";
  SourceIdentity identity;
};

TEST_F(SharedTranscodesTest, ConcurrentOpensShareOneEncoding) {
  for (int readers : {2, 8}) {
    LogCapture log;
    std::vector<std::vector<char>> outputs(readers);
    // Every reader stays open until all have opened: one that finished and closed before
    // another opened would rightly leave it a second encoding.
    std::latch opened(readers);
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; ++r) {
      threads.emplace_back([&, r] {
        auto reader = shared_transcodes.open(path, output_key(path), identity);
        opened.arrive_and_wait();
        ASSERT_NE(reader, nullptr);
        outputs[r] = read_all(*reader);
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(encoder_setups(log), 1u) << readers << " readers";
    for (int r = 1; r < readers; ++r) EXPECT_EQ(outputs[r], outputs[0]) << "reader " << r;
    EXPECT_GT(outputs[0].size(), 1000u);
  }
}

TEST_F(SharedTranscodesTest, TheLastReaderFreesItAndAChangedSourceGetsItsOwn) {
  auto first = shared_transcodes.open(path, output_key(path), identity);
  auto second = shared_transcodes.open(path, output_key(path), identity);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const size_t before = shared_transcodes.open_sources();
  SourceIdentity changed = identity;
  ++changed.mtime_nsec;
  auto third = shared_transcodes.open(path, output_key(path), changed);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(shared_transcodes.open_sources(), before + 1);
  first.reset();
  EXPECT_EQ(shared_transcodes.open_sources(), before + 1);  // the second still reads it
  second.reset();
  third.reset();
  EXPECT_EQ(shared_transcodes.open_sources(), before - 1);
}

TEST_F(SharedTranscodesTest, AFailedOpenIsNotShared) {
  ASSERT_TRUE(fixtures::write_file(dir / "bad.flac", {'f', 'L', 'a', 'C'}));
  struct stat st;
  ASSERT_EQ(lstat((dir / "bad.flac").c_str(), &st), 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    errno = 0;
    EXPECT_EQ(shared_transcodes.open(dir / "bad.flac", output_key(dir / "bad.flac"),
                                     SourceIdentity::of(st)),
              nullptr);
    EXPECT_EQ(errno, EIO);
  }
}

}  // namespace
