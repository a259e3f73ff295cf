#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The one set of workers that runs every encoding of the process, so that N readers of N files
// never run more than `threads` encoders at once. Work comes in classes, taken in this order:
// what a reader is waiting for (oldest wait first), then attributes worked out ahead of a
// directory walk (cheap, and a stat is about to ask), then encodings guessed ahead.
// A job is named by its owner (an output) and a key (a segment number); one name is queued
// once. Jobs run without the pool's lock held.
class EncodePool {
 public:
  enum class Urgency { Waiting = 0, Attributes = 1, Ahead = 2 };
  using Job = std::function<void()>;

  explicit EncodePool(unsigned threads);
  ~EncodePool();  // drops what is queued, lets running jobs end, joins
  EncodePool(const EncodePool&) = delete;
  EncodePool& operator=(const EncodePool&) = delete;

  // Queues job under (owner, key) at this urgency; a name already queued is raised to this
  // urgency if it is more urgent (and its own job kept). false once the pool is stopping.
  bool submit(const void* owner, uint64_t key, Urgency urgency, Job job);
  // Drops owner's queued jobs of urgency Ahead and returns their keys; jobs already running go
  // on to their end.
  std::vector<uint64_t> drop_ahead(const void* owner);
  // Drops every queued job of owner; what runs goes on.
  void drop_all(const void* owner);

  // The most jobs that ever ran at once, for tests and the log.
  unsigned peak_running();
  unsigned threads() const { return static_cast<unsigned>(workers.size()); }

 private:
  struct Entry {
    const void* owner;
    uint64_t key;
    Job job;
  };
  void work();
  static void remove_owner(std::deque<Entry>& queue, const void* owner,
                           std::vector<uint64_t>* keys);

  std::mutex mutex;
  std::condition_variable wake;
  static constexpr size_t kClasses = 3;
  // One queue per urgency, most urgent first; each in the order its jobs came (for Waiting,
  // the order their readers began to wait).
  std::deque<Entry> queues[kClasses];
  unsigned running = 0;
  unsigned peak = 0;
  bool stopping = false;
  std::vector<std::thread> workers;  // last: started once the rest is ready
};

// The process's pool with settings.threads workers (the online cores when 0), made on first
// use: after FUSE has forked, so the workers belong to the daemon.
EncodePool& encode_pool();
// Stops the process's pool, if one was made; the unmount calls it before the caches close.
void stop_encode_pool();
