// Shared transcodes and stored outputs through the mount: however a file is read, and whatever
// happened to the cache directory, a reader gets the bytes a mount without a cache serves, and
// each output is encoded as few times as the cache allows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cache/tmpfs_mount.h"
#include "fs/cache_mount.h"

namespace {

constexpr int kCommandTimeoutMs = 60000;

class OutputCache : public CacheMounts {
 protected:
  void SetUp() override {
    CacheMounts::SetUp();
    if (IsSkipped()) return;
    // Equal lengths and equal title lengths: outputs of equal size and different bytes.
    add_song("song.flac", 3, 440, "Song A");
    add_song("other.flac", 3, 660, "Song B");
  }

  void clear_cache() { ASSERT_EQ(run_command({"rm", "-rf", cache_dir()}, kCommandTimeoutMs), 0); }
};

TEST_F(OutputCache, ConcurrentReadersShareOneEncoding) {
  const Bytes expected = reference("song.mp3").bytes;
  const struct {
    int readers;
    bool cachedir;
  } cases[] = {{2, false}, {8, false}, {2, true}, {8, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.readers) + (c.cachedir ? " readers, --cachedir" : " readers"));
    clear_cache();
    auto olvex = start(c.cachedir ? cached() : std::vector<std::string>{});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    const std::vector<std::string> paths(c.readers, *olvex / "song.mp3");
    for (const Bytes& got : read_at_once(paths, [&] { olvex->abort(); })) {
      EXPECT_TRUE(got == expected) << got.size() << " bytes, expected " << expected.size();
    }
    EXPECT_EQ(olvex->encodings(), 1) << olvex->log();
    olvex->stop();
  }
}

TEST_F(OutputCache, ReadingAgain) {
  const Bytes expected = reference("song.mp3").bytes;
  const struct {
    const char* what;
    std::vector<std::string> options;
    bool remount;
    int most_further_encodings;  // in the second read
    size_t stored;               // outputs in the cache directory at the end
  } cases[] = {
      // The last release frees the Transcoder, but the kernel may send it after the next open.
      {"re-open after close", {}, false, 1, 0},
      {"re-open after close, --cachedir", cached(), false, 0, 1},
      {"remount with the same --cachedir", cached(), true, 0, 1},
      {"output larger than --cachesize", cached({"--cachesize=1K"}), false, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    clear_cache();
    const auto& options = c.options;
    auto olvex = start(options);
    ASSERT_TRUE(olvex->live()) << olvex->output();
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == expected);
    EXPECT_EQ(olvex->encodings(), 1);
    int before = olvex->encodings();
    if (c.remount) {
      olvex->stop();
      olvex = start(options);
      ASSERT_TRUE(olvex->live()) << olvex->output();
      before = 0;
    }
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == expected);
    EXPECT_LE(olvex->encodings() - before, c.most_further_encodings) << olvex->log();
    EXPECT_EQ(olvex->errors(), 0) << olvex->log();
    EXPECT_EQ(stored_outputs().size(), c.stored);
    olvex->stop();
  }
}

// Whatever is wrong with the stored output, it is dropped: the reader gets the right bytes
// from one fresh encoding, which is stored in its place.
TEST_F(OutputCache, DamagedStoreIsNeverServed) {
  const Bytes song = reference("song.mp3").bytes;
  const Bytes other = reference("other.mp3").bytes;
  ASSERT_EQ(song.size(), other.size());
  const auto flip_a_bit = [](const std::string& file, const std::string&) {
    auto bytes = fixtures::read_file(file);
    bytes[bytes.size() / 2] ^= 0x10;
    fixtures::write_file(file, bytes);
  };
  const struct {
    const char* what;
    std::function<void(const std::string& song_file, const std::string& other_file)> damage;
    int encodings;  // in the mount after the damage, for a read of each file
  } cases[] = {
      {"truncated",
       [](const std::string& file, const std::string&) { truncate(file.c_str(), 1000); }, 1},
      {"bit flipped", flip_a_bit, 1},
      {"deleted", [](const std::string& file, const std::string&) { unlink(file.c_str()); }, 1},
      {"replaced by another entry's file",
       [](const std::string& file, const std::string& other_file) {
         fixtures::write_file(file, fixtures::read_file(other_file));
       },
       1},
      // Every record goes with the index: both files are encoded again.
      {"index overwritten with garbage",
       [this](const std::string&, const std::string&) {
         fixtures::write_file(cache_dir() + "/index.sqlite", Bytes(8192, 0x5a));
       },
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    clear_cache();
    auto olvex = start(cached());
    ASSERT_TRUE(olvex->live()) << olvex->output();
    const std::string song_file = output_stored_by([&] { read_whole(*olvex / "song.mp3"); });
    const std::string other_file = output_stored_by([&] { read_whole(*olvex / "other.mp3"); });
    ASSERT_FALSE(song_file.empty() || other_file.empty());
    olvex->stop();

    c.damage(song_file, other_file);
    olvex = start(cached());
    ASSERT_TRUE(olvex->live()) << olvex->output();
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == song);
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == song);
    EXPECT_TRUE(read_whole(*olvex / "other.mp3") == other);
    EXPECT_EQ(olvex->encodings(), c.encodings) << olvex->log();
    EXPECT_GE(olvex->errors(), 1) << olvex->log();
    olvex->stop();

    olvex = start(cached());
    ASSERT_TRUE(olvex->live()) << olvex->output();
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == song);
    EXPECT_EQ(olvex->encodings(), 0) << "the fresh output was not stored";
    EXPECT_EQ(olvex->errors(), 0) << olvex->log();
    olvex->stop();
  }
}

// The outputs a damaged index recorded can no longer be found or evicted; they go with it,
// or the directory would hold more than --cachesize allows, for ever.
TEST_F(OutputCache, OutputsOfADamagedIndexGoWithIt) {
  auto olvex = start(cached());
  ASSERT_TRUE(olvex->live()) << olvex->output();
  read_whole(*olvex / "song.mp3");
  read_whole(*olvex / "other.mp3");
  EXPECT_EQ(stored_outputs().size(), 2u);
  olvex->stop();

  ASSERT_TRUE(fixtures::write_file(cache_dir() + "/index.sqlite", Bytes(8192, 0x5a)));
  olvex = start(cached());
  ASSERT_TRUE(olvex->live()) << olvex->output();
  EXPECT_GE(olvex->errors(), 1) << olvex->log();
  EXPECT_TRUE(stored_outputs().empty());
  read_whole(*olvex / "song.mp3");
  EXPECT_EQ(stored_outputs().size(), 1u);
  olvex->stop();
}

// Room for one of the two outputs: storing the second evicts the first while two readers
// hold it, one reading the Transcoder that stored it and one the stored file itself.
TEST_F(OutputCache, EvictedOutputStaysWholeForItsReaders) {
  add_song("long.flac", 20, 440, "Long A");
  add_song("longer.flac", 20, 550, "Long B");
  const Bytes long_bytes = reference("long.mp3").bytes;
  const Bytes longer_bytes = reference("longer.mp3").bytes;
  const size_t capacity = long_bytes.size() + longer_bytes.size() / 2;
  auto olvex = start(cached({"--cachesize=" + std::to_string(capacity)}));
  ASSERT_TRUE(olvex->live()) << olvex->output();

  const int encoder_reader = open((*olvex / "long.mp3").c_str(), O_RDONLY);
  ASSERT_GE(encoder_reader, 0);
  std::string long_file;
  long_file =
      output_stored_by([&] { EXPECT_TRUE(read_from(encoder_reader, "long") == long_bytes); });
  const int file_reader = open((*olvex / "long.mp3").c_str(), O_RDONLY);
  ASSERT_GE(file_reader, 0);
  char first[4096];
  ASSERT_EQ(pread(file_reader, first, sizeof first, 0), static_cast<ssize_t>(sizeof first));

  EXPECT_TRUE(read_whole(*olvex / "longer.mp3") == longer_bytes);
  EXPECT_EQ(stored_outputs().count(long_file.substr(cache_dir().size() + 1)), 0u) << "not evicted";
  EXPECT_EQ(stored_outputs().size(), 1u);

  EXPECT_TRUE(read_from(encoder_reader, "long, first reader") == long_bytes);
  EXPECT_TRUE(read_from(file_reader, "long, second reader") == long_bytes);
  close(encoder_reader);
  close(file_reader);
  EXPECT_EQ(olvex->encodings(), 2) << olvex->log();
  olvex->stop();
}

// The index fits the small file system, the output does not: the write fails, is reported,
// and the readers are served from memory as without a cache.
TEST_F(OutputCache, FullFileSystemServesFromMemory) {
  add_song("long.flac", 30);
  const Bytes expected = reference("long.mp3").bytes;
  ASSERT_EQ(mkdir(cache_dir().c_str(), 0755), 0);
  TmpfsMount small(cache_dir(), "size=256k");
  SKIP_WITHOUT_TMPFS(small);
  ASSERT_GT(expected.size(), 256u * 1024) << "the output must not fit";

  auto olvex = start(cached());
  ASSERT_TRUE(olvex->live()) << olvex->output();
  const std::vector<std::string> paths(2, *olvex / "long.mp3");
  for (const Bytes& got : read_at_once(paths, [&] { olvex->abort(); })) {
    EXPECT_TRUE(got == expected);
  }
  EXPECT_TRUE(read_whole(*olvex / "long.mp3") == expected);
  EXPECT_NE(olvex->log().find("ERROR Could not store the output"), std::string::npos)
      << olvex->log();
  EXPECT_TRUE(stored_outputs().empty());
  olvex->stop();
}

// Two processes on one directory at once: each serves the right bytes, and an output one of
// them stored is used by the other.
TEST_F(OutputCache, TwoProcessesShareOneDirectory) {
  add_song("third.flac", 4);
  const Bytes song = reference("song.mp3").bytes;
  const Bytes other = reference("other.mp3").bytes;
  const Bytes third = reference("third.mp3").bytes;
  auto first = start(cached());
  auto second = start(cached());
  ASSERT_TRUE(first->live()) << first->output();
  ASSERT_TRUE(second->live()) << second->output();

  EXPECT_TRUE(read_whole(*first / "song.mp3") == song);
  EXPECT_TRUE(read_whole(*second / "song.mp3") == song);
  EXPECT_TRUE(read_whole(*second / "other.mp3") == other);
  EXPECT_TRUE(read_whole(*first / "other.mp3") == other);
  EXPECT_EQ(first->encodings(), 1) << first->log();
  EXPECT_EQ(second->encodings(), 1) << second->log();

  // Both encode the same file at once and both store it.
  const auto both = read_at_once({*first / "third.mp3", *second / "third.mp3"}, [&] {
    first->abort();
    second->abort();
  });
  for (const Bytes& got : both) EXPECT_TRUE(got == third);
  EXPECT_TRUE(read_whole(*first / "third.mp3") == third);
  EXPECT_TRUE(read_whole(*second / "third.mp3") == third);
  EXPECT_LE(first->encodings(), 2) << first->log();
  EXPECT_LE(second->encodings(), 2) << second->log();
  EXPECT_EQ(first->errors() + second->errors(), 0) << first->log() << second->log();
  first->stop();
  second->stop();
}

}  // namespace
