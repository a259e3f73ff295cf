// Sizes kept in the cache directory across a remount: right after the remount a stat tells
// what was learnt before, and never a size of another setting or of an earlier source.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "fs/cache_mount.h"

namespace {

constexpr int kCommandTimeoutMs = 60000;

class CacheDirSizes : public CacheMounts {};

TEST_F(CacheDirSizes, StatRightAfterARemount) {
  const std::vector<std::string> vbr = {"--vbr", "--statcachesize=100"};
  enum Expected {
    kLearnt,     // the exact size of the first mount's full read, from the index
    kReference,  // what a mount without a cache directory stats before reading
  };
  const struct {
    const char* what;
    std::vector<std::string> first, second;
    std::function<void()> change;  // between the mounts
    Expected expected;
  } cases[] = {
      {"VBR, unchanged", vbr, vbr, nullptr, kLearnt},
      // The sizes are the index's own; they do not depend on the stored outputs.
      {"VBR, stored outputs removed", vbr, vbr,
       [this] {
         run_command({"rm", "-rf", cache_dir() + "/outputs"}, kCommandTimeoutMs);
       },
       kLearnt},
      {"another bit rate", {"-b", "128"}, {"-b", "192"}, nullptr, kReference},
      // Without the stats cache a VBR output is padded to its predicted size.
      {"VBR, stats cache off", vbr, {"--vbr"}, nullptr, kReference},
      {"VBR, another quality",
       vbr,
       {"--vbr", "--statcachesize=100", "--quality=2"},
       nullptr,
       kReference},
      {"VBR, source rewritten longer", vbr, vbr, [this] { add_song("song.flac", 5); }, kReference},
      // Same bytes, a new modification time: another identity, so the learnt size is unused.
      {"VBR, source touched", vbr, vbr,
       [this] {
         const timeval later[2] = {{2000000000, 0}, {2000000000, 0}};
         utimes((source / "song.flac").c_str(), later);
       },
       kReference},
      // What the output is made of has changed beside the source.
      {"folder cover added",
       {"--covers=folder"},
       {"--covers=folder"},
       [this] {
         fixtures::write_file(source / "cover.png", fixtures::solid_png(64, 64, 0x336699));
       },
       kReference},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(run_command({"rm", "-rf", cache_dir()}, kCommandTimeoutMs), 0);
    add_song("song.flac", 3);
    unlink((source / "cover.png").c_str());

    auto olvex = start(cached(c.first));
    ASSERT_TRUE(olvex->live()) << olvex->output();
    const off_t learnt = static_cast<off_t>(read_whole(*olvex / "song.mp3").size());
    olvex->stop();
    if (c.change) c.change();

    const Reference plain = reference("song.mp3", c.second);
    // Else a stale size, or a predicted one, would go unseen.
    ASSERT_NE(learnt, plain.size_before_reading);
    olvex = start(cached(c.second));
    ASSERT_TRUE(olvex->live()) << olvex->output();
    EXPECT_EQ(size_of(*olvex / "song.mp3"),
              c.expected == kLearnt ? learnt : plain.size_before_reading);
    EXPECT_TRUE(read_whole(*olvex / "song.mp3") == plain.bytes);
    EXPECT_EQ(size_of(*olvex / "song.mp3"), static_cast<off_t>(plain.bytes.size()));
    olvex->stop();
  }
}

}  // namespace
