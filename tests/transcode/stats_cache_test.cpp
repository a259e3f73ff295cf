#include "transcode/stats_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "support/log_capture.h"
#include "support/settings_guard.h"

namespace {

int64_t fake_now = 0;
int64_t fake_clock() {
  return fake_now;
}

// Hands the cache a clock the test sets by hand.
class ClockGuard {
 public:
  explicit ClockGuard(int64_t start) : saved(stats_cache_clock) {
    fake_now = start;
    stats_cache_clock = fake_clock;
  }
  ~ClockGuard() { stats_cache_clock = saved; }

 private:
  StatsCacheClock saved;
};

// A cache whose sources live in a map instead of the file system: a path
// missing from the map is a deleted source.
class ScriptedCache : public StatsCache {
 public:
  std::map<std::string, int64_t> sources;
  // Runs before each attribute query of a prune, while the cache is unlocked.
  std::function<void(const std::string&)> on_query;

 protected:
  bool query_mtime(const std::string& path, int64_t& mtime) override {
    if (on_query) on_query(path);
    auto it = sources.find(path);
    if (it == sources.end()) return false;
    mtime = it->second;
    return true;
  }
};

std::set<std::string> keys(const std::map<std::string, StatsCacheEntry>& entries) {
  std::set<std::string> result;
  for (const auto& [path, entry] : entries) result.insert(path);
  return result;
}

// --- lookups and stores, as sequences of operations --------------------------

struct Step {
  bool is_put;
  std::string path;
  uint64_t size;  // put: size to store; get: expected size (the preset 7 on a miss)
  int64_t mtime;
  bool found;           // get only
  std::string message;  // the one DEBUG line the step writes, "-" for none, "" unchecked
};

Step put(std::string path, uint64_t size, int64_t mtime, std::string message = "") {
  return {true, std::move(path), size, mtime, false, std::move(message)};
}

Step get(std::string path, int64_t mtime, bool found, uint64_t size, std::string message = "") {
  return {false, std::move(path), size, mtime, found, std::move(message)};
}

struct Sequence {
  const char* name;
  std::vector<Step> steps;
};

const Sequence kSequences[] = {
    {"miss_leaves_size", {get("/m/a.flac", 50, false, 7, "-")}},
    {"equal_mtime_is_valid",
     {put("/m/a.flac", 100, 50, "Added file '/m/a.flac' to stats cache with size 100"),
      get("/m/a.flac", 50, true, 100, "Found file '/m/a.flac' in stats cache with size 100")}},
    {"newer_source_removes_entry",
     {put("/m/a.flac", 100, 50),
      get("/m/a.flac", 51, false, 7, "Removed out of date file '/m/a.flac' from stats cache"),
      get("/m/a.flac", 50, false, 7, "-")}},
    {"source_going_back_keeps_entry", {put("/m/a.flac", 100, 50), get("/m/a.flac", 10, true, 100)}},
    {"older_store_is_ignored",
     {put("/m/a.flac", 100, 50), put("/m/a.flac", 200, 49, "-"), get("/m/a.flac", 50, true, 100)}},
    {"equal_mtime_store_updates",
     {put("/m/a.flac", 100, 50),
      put("/m/a.flac", 200, 50, "Updated file '/m/a.flac' in stats cache with size 200"),
      get("/m/a.flac", 50, true, 200)}},
    {"newer_store_updates_mtime",
     {put("/m/a.flac", 100, 50), put("/m/a.flac", 200, 60), get("/m/a.flac", 55, true, 200),
      get("/m/a.flac", 61, false, 7)}},
    {"paths_are_separate",
     {put("/m/a.flac", 100, 50), put("/m/b.flac", 300, 50), get("/m/b.flac", 50, true, 300),
      get("/m/a.flac", 50, true, 100), get("/m/a.fla", 50, false, 7)}},
};

class StatsCacheSequence : public ::testing::TestWithParam<Sequence> {};

TEST_P(StatsCacheSequence, AnswersAndMessages) {
  SettingsGuard guard;
  settings.statcachesize = 100;
  ClockGuard clock(1000);
  StatsCache cache;
  for (size_t i = 0; i < GetParam().steps.size(); ++i) {
    const Step& step = GetParam().steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    LogCapture log;
    if (step.is_put) {
      cache.put_size(step.path, step.size, step.mtime);
    } else {
      uint64_t size = 7;
      EXPECT_EQ(cache.get_size(step.path, step.mtime, size), step.found);
      EXPECT_EQ(size, step.size);
    }
    if (step.message == "-") {
      EXPECT_EQ(log.text(), "");
    } else if (!step.message.empty()) {
      EXPECT_EQ(log.lines(), std::vector<std::string>{"DEBUG: " + step.message});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, StatsCacheSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StatsCacheEntries, StoreAndValidLookupSetAccessTime) {
  SettingsGuard guard;
  settings.statcachesize = 100;
  ClockGuard clock(1000);
  StatsCache cache;
  cache.put_size("/m/a.flac", 100, 50);
  EXPECT_EQ(cache.contents().at("/m/a.flac"), (StatsCacheEntry{100, 50}));

  fake_now = 2000;
  uint64_t size = 0;
  ASSERT_TRUE(cache.get_size("/m/a.flac", 50, size));
  EXPECT_EQ(cache.contents().at("/m/a.flac").atime, 2000);

  fake_now = 3000;
  cache.put_size("/m/a.flac", 100, 40);  // older: ignored, atime untouched
  EXPECT_EQ(cache.contents().at("/m/a.flac").atime, 2000);
}

// --- pruning -------------------------------------------------------------------

std::string nth(int i) {
  return "/m/" + std::to_string(100 + i) + ".flac";
}

// Stores count entries, entry i at clock i with an unchanged source.
void fill(ScriptedCache& cache, int count) {
  for (int i = 0; i < count; ++i) {
    fake_now = i;
    cache.sources[nth(i)] = 50;
    cache.put_size(nth(i), 1000 + i, 50);
  }
}

struct Threshold {
  unsigned int limit;
  size_t kept;
};

class StatsCachePrune : public ::testing::TestWithParam<Threshold> {};

TEST_P(StatsCachePrune, StartsPastTheLimitAndKeepsTheNewest) {
  SettingsGuard guard;
  settings.statcachesize = GetParam().limit;
  ClockGuard clock(0);
  ScriptedCache cache;
  const int limit = static_cast<int>(GetParam().limit);

  {
    LogCapture log;
    fill(cache, limit);
    EXPECT_FALSE(log.contains("Pruning stats cache"));
  }
  EXPECT_EQ(cache.contents().size(), GetParam().limit);

  LogCapture log;
  fake_now = limit;
  cache.sources[nth(limit)] = 50;
  cache.put_size(nth(limit), 1, 50);
  EXPECT_TRUE(log.contains("DEBUG: Pruning stats cache"));
  EXPECT_TRUE(log.contains("DEBUG: Pruned oldest file '" + nth(0) + "' from stats cache"));

  std::set<std::string> expected;
  for (int i = limit + 1 - static_cast<int>(GetParam().kept); i <= limit; ++i) {
    expected.insert(nth(i));
  }
  EXPECT_EQ(keys(cache.contents()), expected);
}

INSTANTIATE_TEST_SUITE_P(Limits, StatsCachePrune,
                         ::testing::Values(Threshold{1, 0}, Threshold{10, 9}, Threshold{100, 90}),
                         [](const auto& info) { return std::to_string(info.param.limit); });

TEST(StatsCachePruneTarget, IsNineTenthsWithoutWrapping) {
  const struct {
    unsigned int limit;
    uint64_t target;
  } cases[] = {
      {0, 0},
      {1, 0},
      {10, 9},
      {100, 90},
      {477218589, 429496730},  // 9 x limit passes 2^32 here
      {4294967295u, 3865470565u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatsCache::prune_target(c.limit), c.target) << "limit " << c.limit;
  }
}

TEST(StatsCachePruneOrder, ChangedAndDeletedSourcesGoFirst) {
  SettingsGuard guard;
  settings.statcachesize = 10;
  ClockGuard clock(0);
  ScriptedCache cache;
  fill(cache, 10);
  // The two most recently used entries are the stale ones.
  cache.sources[nth(9)] = 51;
  cache.sources.erase(nth(8));

  LogCapture log;
  fake_now = 10;
  cache.sources[nth(10)] = 50;
  cache.put_size(nth(10), 1, 50);

  EXPECT_TRUE(log.contains("Removed out of date file '" + nth(9) + "' from stats cache"));
  EXPECT_TRUE(log.contains("Removed out of date file '" + nth(8) + "' from stats cache"));
  EXPECT_FALSE(log.contains("Pruned oldest file"));
  std::set<std::string> expected;
  for (int i = 0; i <= 10; ++i) expected.insert(nth(i));
  expected.erase(nth(8));
  expected.erase(nth(9));
  EXPECT_EQ(keys(cache.contents()), expected);
}

TEST(StatsCachePruneOrder, FailedQueryLeavesErrnoClear) {
  SettingsGuard guard;
  settings.statcachesize = 1;
  ClockGuard clock(0);
  StatsCache cache;  // the real attribute query, on paths that do not exist
  cache.put_size("/nonexistent/olvex/a.flac", 10, 50);
  errno = 0;
  cache.put_size("/nonexistent/olvex/b.flac", 10, 50);
  EXPECT_EQ(errno, 0);
  EXPECT_TRUE(cache.contents().empty());
}

TEST(StatsCachePruneOrder, RealSourcesAreQueriedByPath) {
  SettingsGuard guard;
  settings.statcachesize = 2;
  ClockGuard clock(0);
  StatsCache cache;
  // This test's own file exists and is older than any time the cache records.
  const std::string self = "/proc/self/exe";
  cache.put_size(self, 10, INT64_MAX);
  fake_now = 1;
  cache.put_size("/nonexistent/olvex/b.flac", 10, 50);
  fake_now = 2;
  cache.put_size("/nonexistent/olvex/c.flac", 10, 50);
  EXPECT_EQ(keys(cache.contents()), std::set<std::string>{self});
}

TEST(StatsCachePruneOrder, EntryRefreshedAfterTheSnapshotSurvives) {
  const struct {
    const char* name;
    std::function<void(ScriptedCache&)> refresh;
    int survivor;
  } cases[] = {
      {"lookup",
       [](ScriptedCache& cache) {
         uint64_t size = 0;
         EXPECT_TRUE(cache.get_size(nth(0), 50, size));
       },
       0},
      {"store",
       [](ScriptedCache& cache) {
         // A limit this high keeps the store from starting a prune of its own.
         settings.statcachesize = 1000;
         cache.put_size(nth(1), 5, 50);
         settings.statcachesize = 10;
       },
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsGuard guard;
    settings.statcachesize = 10;
    ClockGuard clock(0);
    ScriptedCache cache;
    fill(cache, 10);
    // Another thread's work lands while the prune is between its snapshot
    // and its removals, that is while it queries the first source.
    bool fired = false;
    cache.on_query = [&](const std::string&) {
      if (fired) return;
      fired = true;
      fake_now = 100;
      c.refresh(cache);
    };
    fake_now = 10;
    cache.sources[nth(10)] = 50;
    cache.put_size(nth(10), 1, 50);

    // The walk passes the refreshed entry and takes the next oldest instead.
    std::set<std::string> expected{nth(c.survivor)};
    for (int i = 3; i <= 10; ++i) expected.insert(nth(i));
    EXPECT_EQ(keys(cache.contents()), expected);
  }
}

TEST(StatsCachePruneOrder, StopsAfterTheLastSnapshotElement) {
  SettingsGuard guard;
  settings.statcachesize = 10;
  ClockGuard clock(0);
  ScriptedCache cache;
  fill(cache, 10);
  // Every entry is looked up during the prune, so none matches its snapshot.
  cache.on_query = [&](const std::string& path) {
    fake_now = 100;
    uint64_t size = 0;
    cache.get_size(path, 50, size);
  };
  fake_now = 10;
  cache.sources[nth(10)] = 50;
  cache.put_size(nth(10), 1, 50);
  EXPECT_EQ(cache.contents().size(), 11u);
}

// --- threads -----------------------------------------------------------------------

TEST(StatsCacheThreads, ConcurrentStoresAndLookupsStayConsistent) {
  SettingsGuard guard;
  settings.statcachesize = 8;
  ScriptedCache cache;
  constexpr int kThreads = 4;
  constexpr int kPaths = 40;
  for (int t = 0; t < kThreads; ++t) {
    for (int p = 0; p < kPaths; ++p) cache.sources["/t" + std::to_string(t * 1000 + p)] = 50;
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (int p = 0; p < kPaths; ++p) {
          const std::string path = "/t" + std::to_string(t * 1000 + p);
          const uint64_t expected = static_cast<uint64_t>(t * 1000 + p + 1);
          cache.put_size(path, expected, 50);
          uint64_t size = 0;
          if (cache.get_size(path, 50, size) && size != expected) ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  for (const auto& [path, entry] : cache.contents()) {
    EXPECT_EQ(entry.size, std::stoull(path.substr(2)) + 1) << path;
  }
  // Once alone again, one store brings the cache back under its limit.
  cache.sources["/t9999"] = 50;
  cache.put_size("/t9999", 1, 50);
  EXPECT_LE(cache.contents().size(), 8u);
}

}  // namespace
