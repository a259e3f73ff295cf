// The read-ahead of sizes on its own, with a measure the test holds and releases, so that
// what a stat finds (running, queued, dropped) is never a matter of timing.
#include "fs/attr_read_ahead.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

// Measures a source as its name's length, once released; notes what it was asked.
class HeldMeasure {
 public:
  bool measure(const std::string& source, uint64_t& size) {
    std::unique_lock lock(mutex);
    ++calls[source];
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
    size = source.size();
    return true;
  }
  void wait_for_call(const std::string& source) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return calls.count(source) > 0; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  int calls_for(const std::string& source) {
    std::lock_guard lock(mutex);
    return calls.count(source) ? calls[source] : 0;
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, int> calls;
  bool open = false;
};

class ReadAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.flac", "b.flac", "c.flac"}) {
      ASSERT_TRUE(fixtures::write_file(dir / name, {1, 2, 3}));
    }
    ASSERT_EQ(lstat(dir.path().c_str(), &directory_record), 0);
  }
  void TearDown() override {
    measure.release();
    pool.reset();  // before the read-ahead its jobs point to
  }

  std::vector<AttrReadAhead::File> files(std::initializer_list<const char*> names) {
    std::vector<AttrReadAhead::File> result;
    for (const char* name : names) result.push_back(file(name));
    return result;
  }
  AttrReadAhead::File file(const std::string& name) {
    struct stat record = {};
    EXPECT_EQ(lstat((dir / name).c_str(), &record), 0) << name;
    return {dir / name, "key:" + name, SourceIdentity::of(record)};
  }
  // Returns once every job of the read-ahead has run: the one worker takes encoding
  // read-ahead only when no size is queued, and a size's job queues the next before it ends.
  void drain() {
    std::promise<void> done;
    pool->submit(&done, 0, EncodePool::Urgency::Ahead, [&] { done.set_value(); });
    done.get_future().wait();
  }
  bool answer(const std::string& name, uint64_t& size) {
    return read_ahead.answer("key:" + name, file(name).identity, size);
  }

  fixtures::TempDir dir;
  struct stat directory_record = {};
  HeldMeasure measure;
  std::unique_ptr<EncodePool> pool = std::make_unique<EncodePool>(1);
  AttrReadAhead read_ahead{
      [this]() -> EncodePool& { return *pool; },
      [this](const std::string& source, const std::string&, const SourceIdentity&, uint64_t& size) {
        return measure.measure(source, size);
      }};
};

// The one worker measures a; b and c wait behind it.
TEST_F(ReadAhead, AStatWaitsForWhatIsMeasuredAndTakesWhatIsNotStarted) {
  read_ahead.listed(dir.path(), directory_record, files({"a.flac", "b.flac", "c.flac"}));
  measure.wait_for_call(dir / "a.flac");

  auto waiting = std::async(std::launch::async, [&] {
    uint64_t size = 0;
    return answer("a.flac", size) ? size : 0;
  });
  uint64_t size = 0;
  EXPECT_FALSE(answer("b.flac", size)) << "queued: the stat measures it itself";
  measure.release();
  EXPECT_EQ(waiting.get(), (dir / "a.flac").size());
  EXPECT_EQ(measure.calls_for(dir / "a.flac"), 1);

  drain();
  EXPECT_EQ(measure.calls_for(dir / "b.flac"), 0) << "taken off the queue, never measured twice";
  EXPECT_EQ(measure.calls_for(dir / "c.flac"), 1);
  EXPECT_TRUE(answer("c.flac", size));
  EXPECT_EQ(size, (dir / "c.flac").size());
  EXPECT_FALSE(answer("c.flac", size)) << "handed over once, then the attribute cache's";
}

TEST_F(ReadAhead, KnownSizesAreHeldAndStaleOnesRefused) {
  auto listed = files({"a.flac", "b.flac"});
  for (auto& f : listed) {
    f.known = true;
    f.size = 42;
  }
  read_ahead.listed(dir.path(), directory_record, listed);
  ASSERT_TRUE(fixtures::write_file(dir / "b.flac", {1, 2, 3, 4}));  // b changes in place
  drain();
  EXPECT_EQ(measure.calls_for(dir / "a.flac") + measure.calls_for(dir / "b.flac"), 0);
  uint64_t size = 0;
  EXPECT_TRUE(answer("a.flac", size));
  EXPECT_EQ(size, 42u);
  EXPECT_FALSE(answer("b.flac", size));
}

TEST_F(ReadAhead, WorkForADirectoryChangedSinceItsListingIsDropped) {
  read_ahead.listed(dir.path(), directory_record, files({"a.flac", "b.flac"}));
  measure.wait_for_call(dir / "a.flac");
  ASSERT_TRUE(fixtures::write_file(dir / "new.flac", {}));
  measure.release();
  drain();
  EXPECT_EQ(measure.calls_for(dir / "b.flac"), 0);
  uint64_t size = 0;
  EXPECT_FALSE(answer("a.flac", size)) << "measured for a listing that no longer holds";
  EXPECT_FALSE(answer("b.flac", size));
  EXPECT_EQ(read_ahead.held(), 0u);
}

// The window refills as jobs end until the listing is through, and a listing larger than what
// is held has only its first files read ahead.
TEST_F(ReadAhead, AHugeListingHasItsFirstFilesMeasuredWindowAfterWindow) {
  measure.release();
  const size_t count = AttrReadAhead::kMaxHeld + 10;
  std::vector<AttrReadAhead::File> listed;
  for (size_t i = 0; i < count; ++i) {
    AttrReadAhead::File f = file("a.flac");
    f.key = "key:" + std::to_string(i);
    listed.push_back(f);
  }
  read_ahead.listed(dir.path(), directory_record, listed);
  drain();
  EXPECT_EQ(measure.calls_for(dir / "a.flac"), static_cast<int>(AttrReadAhead::kMaxHeld));
  EXPECT_EQ(read_ahead.held(), AttrReadAhead::kMaxHeld);
}

}  // namespace
