#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/source_identity.h"
#include "pool/encode_pool.h"

// Output sizes worked out ahead of a directory walk: a listing announces the stats that
// follow, so the sizes of its files are measured on the encode pool while the walker is
// still on the first ones. An answer is held here, not in the attribute cache, until a
// reader asks for it, so a guess never pushes out what a reader used. Answers and names held
// are bounded; the oldest listings go first.
class AttrReadAhead {
 public:
  // Queued on the pool per listing at a time: enough to keep every worker busy and a disk
  // queue deep while the walker catches up, few enough that a walk that stops early (or a
  // huge directory) leaves little work behind it, and that reads which wait never queue
  // behind more than a few milliseconds of measuring.
  static constexpr size_t kWindow = 32;
  // Names and answers held across listings: a few hundred KB at most.
  static constexpr size_t kMaxHeld = 4096;

  // Works out the size of a source whose lstat gave identity, and keeps it wherever it
  // outlives this object; false when it cannot (the reader then finds out why on its own).
  using Measure = std::function<bool(const std::string& source, const std::string& key,
                                     const SourceIdentity& identity, uint64_t& size)>;
  // Asks the disk for what measuring source will read, without waiting for it: the workers
  // are as many as the cores, but a disk (or a NAS) answers best with many reads queued.
  using Prefetch = std::function<void(const std::string& source)>;
  // The pool is asked for each time: the process's pool is made after FUSE forks. The pool
  // must have run or dropped this object's jobs before it goes.
  AttrReadAhead(std::function<EncodePool&()> pool, Measure measure, Prefetch prefetch = nullptr);
  AttrReadAhead(const AttrReadAhead&) = delete;
  AttrReadAhead& operator=(const AttrReadAhead&) = delete;

  // One file of a listing. known: its size came from elsewhere (the cache directory) and
  // is held as it is, not measured.
  struct File {
    std::string source;
    std::string key;
    SourceIdentity identity;
    bool known = false;
    uint64_t size = 0;
  };
  // directory_record: the directory's own lstat, taken before it was read. A directory
  // listed again unchanged keeps its work; changed, its old work is dropped.
  void listed(const std::string& directory, const struct stat& directory_record,
              std::vector<File> files);

  // The answer for key while its source keeps identity. Waits while it is being measured;
  // false when nobody measures it (not listed, failed, or not started: then it is taken off
  // the queue and the caller measures it at once, as without read-ahead).
  bool answer(const std::string& key, const SourceIdentity& identity, uint64_t& size);

  // Forgets everything; jobs still queued find nothing to do.
  void clear();

  size_t held();

 private:
  struct Listing {
    std::string directory;
    SourceIdentity state;           // of the directory, as listed
    std::vector<std::string> keys;  // to be measured, in listing order
    size_t next = 0;                // first key not yet queued
    size_t queued = 0;              // jobs on the pool
    bool dropped = false;
  };
  enum class State { Queued, Running, Ready };
  struct Slot {
    std::string source;
    SourceIdentity identity;
    State state = State::Queued;
    uint64_t size = 0;
    std::shared_ptr<Listing> listing;
  };

  void run(const std::shared_ptr<Listing>& listing, const std::string& key);
  void prefetch_all(const std::vector<std::string>& sources) const;
  // All below with mutex held.
  // Queues what the window allows; the sources queued are added to queued_sources.
  void queue_more_locked(const std::shared_ptr<Listing>& listing,
                         std::vector<std::string>& queued_sources);
  void drop_locked(const std::shared_ptr<Listing>& listing);
  void bound_locked(const std::shared_ptr<Listing>& keep);

  const std::function<EncodePool&()> pool;
  const Measure measure;
  const Prefetch prefetch;
  std::mutex mutex;
  std::condition_variable measured;
  std::unordered_map<std::string, Slot> slots;
  std::deque<std::shared_ptr<Listing>> listings;  // oldest first
  uint64_t next_job = 0;
};
