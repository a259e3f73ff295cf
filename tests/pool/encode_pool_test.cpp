#include "pool/encode_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Holds the pool's one worker until opened, so that what is queued meanwhile stays queued.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
  }
  void wait_until_entered() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return entered; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
};

// What ran, in order.
class Journal {
 public:
  EncodePool::Job note(std::string name) {
    return [this, name] {
      std::lock_guard lock(mutex);
      names.push_back(name);
      changed.notify_all();
    };
  }
  std::vector<std::string> wait_for(size_t count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return names.size() >= count; });
    return names;
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> names;
};

using Names = std::vector<std::string>;
const int a = 0, b = 0;  // owners: only their addresses matter

TEST(EncodePool, WaitingWorkOvertakesAttributesWhichOvertakeReadAheadAndARaisedJobMovesUp) {
  Gate gate;
  Journal journal;
  EncodePool pool(1);
  pool.submit(&a, 0, EncodePool::Urgency::Waiting, [&] { gate.wait(); });
  gate.wait_until_entered();
  pool.submit(&a, 1, EncodePool::Urgency::Ahead, journal.note("a1"));
  pool.submit(&a, 2, EncodePool::Urgency::Ahead, journal.note("a2"));
  pool.submit(&b, 3, EncodePool::Urgency::Attributes, journal.note("b3"));
  pool.submit(&b, 4, EncodePool::Urgency::Attributes, journal.note("b4"));
  pool.submit(&b, 7, EncodePool::Urgency::Waiting, journal.note("b7"));
  // Raised: keeps its own job, moves behind what is queued at its new urgency.
  pool.submit(&a, 2, EncodePool::Urgency::Waiting, journal.note("never"));
  pool.submit(&b, 7, EncodePool::Urgency::Waiting, journal.note("twice"));
  pool.submit(&b, 4, EncodePool::Urgency::Waiting, journal.note("never"));
  pool.submit(&a, 1, EncodePool::Urgency::Attributes, journal.note("never"));
  // Never lowered.
  pool.submit(&b, 7, EncodePool::Urgency::Ahead, journal.note("never"));
  pool.submit(&b, 3, EncodePool::Urgency::Ahead, journal.note("never"));
  gate.release();
  EXPECT_EQ(journal.wait_for(5), (Names{"b7", "a2", "b4", "b3", "a1"}));
}

TEST(EncodePool, DroppingAnOwnersWorkLeavesOthersAndWhatRuns) {
  Gate gate;
  Journal journal;
  EncodePool pool(1);
  pool.submit(&a, 0, EncodePool::Urgency::Waiting, [&] {
    gate.wait();
    journal.note("a0")();
  });
  gate.wait_until_entered();
  pool.submit(&a, 1, EncodePool::Urgency::Ahead, journal.note("a1"));
  pool.submit(&a, 2, EncodePool::Urgency::Ahead, journal.note("a2"));
  pool.submit(&a, 3, EncodePool::Urgency::Waiting, journal.note("a3"));
  pool.submit(&a, 4, EncodePool::Urgency::Attributes, journal.note("a4"));
  pool.submit(&b, 1, EncodePool::Urgency::Ahead, journal.note("b1"));
  EXPECT_EQ(pool.drop_ahead(&a), (std::vector<uint64_t>{1, 2}));
  pool.drop_all(&a);  // a3 and a4 too
  gate.release();
  EXPECT_EQ(journal.wait_for(2), (Names{"a0", "b1"}));
}

TEST(EncodePool, NeverRunsMoreJobsThanWorkers) {
  for (const unsigned threads : {1u, 3u}) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> done{0};
    {
      EncodePool pool(threads);
      for (uint64_t k = 0; k < 64; ++k) {
        pool.submit(&a, k, k % 2 ? EncodePool::Urgency::Ahead : EncodePool::Urgency::Waiting, [&] {
          const int now = ++running;
          int seen = most.load();
          while (now > seen && !most.compare_exchange_weak(seen, now)) {
          }
          volatile unsigned spin = 0;
          for (int i = 0; i < 20000; ++i) spin = spin + static_cast<unsigned>(i);
          --running;
          ++done;
        });
      }
      Journal end;
      pool.submit(&b, 0, EncodePool::Urgency::Ahead, end.note("end"));
      end.wait_for(1);
      EXPECT_LE(pool.peak_running(), threads);
    }
    EXPECT_EQ(done.load(), 64) << threads;
    EXPECT_LE(most.load(), static_cast<int>(threads));
  }
}

}  // namespace
