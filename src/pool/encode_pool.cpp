#include "pool/encode_pool.h"

#include <algorithm>
#include <memory>

#include "app/settings.h"
#include "logging/logger.h"

EncodePool::EncodePool(unsigned threads) {
  if (threads == 0) threads = 1;
  workers.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) workers.emplace_back([this] { work(); });
}

EncodePool::~EncodePool() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
    for (auto& queue : queues) queue.clear();
  }
  wake.notify_all();
  for (auto& worker : workers) worker.join();
}

bool EncodePool::submit(const void* owner, uint64_t key, Urgency urgency, Job job) {
  const auto wanted = static_cast<size_t>(urgency);
  {
    std::lock_guard lock(mutex);
    if (stopping) return false;
    const auto same = [&](const Entry& e) { return e.owner == owner && e.key == key; };
    for (size_t level = 0; level < kClasses; ++level) {
      auto& queue = queues[level];
      const auto queued = std::find_if(queue.begin(), queue.end(), same);
      if (queued == queue.end()) continue;
      if (wanted < level) {
        queues[wanted].push_back(std::move(*queued));
        queue.erase(queued);
      }
      return true;
    }
    queues[wanted].push_back(Entry{owner, key, std::move(job)});
  }
  wake.notify_one();
  return true;
}

void EncodePool::remove_owner(std::deque<Entry>& queue, const void* owner,
                              std::vector<uint64_t>* keys) {
  auto kept = std::stable_partition(queue.begin(), queue.end(),
                                    [&](const Entry& e) { return e.owner != owner; });
  if (keys) {
    for (auto it = kept; it != queue.end(); ++it) keys->push_back(it->key);
  }
  queue.erase(kept, queue.end());
}

std::vector<uint64_t> EncodePool::drop_ahead(const void* owner) {
  std::vector<uint64_t> keys;
  std::lock_guard lock(mutex);
  remove_owner(queues[static_cast<size_t>(Urgency::Ahead)], owner, &keys);
  return keys;
}

void EncodePool::drop_all(const void* owner) {
  std::lock_guard lock(mutex);
  for (auto& queue : queues) remove_owner(queue, owner, nullptr);
}

unsigned EncodePool::peak_running() {
  std::lock_guard lock(mutex);
  return peak;
}

void EncodePool::work() {
  std::unique_lock lock(mutex);
  for (;;) {
    const auto next = [this] {
      return std::find_if(std::begin(queues), std::end(queues),
                          [](const std::deque<Entry>& q) { return !q.empty(); });
    };
    wake.wait(lock, [&] { return stopping || next() != std::end(queues); });
    if (stopping) return;
    auto& queue = *next();
    Job job = std::move(queue.front().job);
    queue.pop_front();
    ++running;
    if (running > peak) {
      peak = running;
      Logging::Logger(Logging::DEBUG) << "Encode pool: " << peak << " encoders at once.";
    }
    lock.unlock();
    job();
    job = nullptr;  // whatever it holds goes before the lock is taken again
    lock.lock();
    --running;
  }
}

namespace {

std::mutex pool_mutex;
std::unique_ptr<EncodePool> process_pool;

}  // namespace

EncodePool& encode_pool() {
  std::lock_guard lock(pool_mutex);
  if (!process_pool) {
    unsigned threads = settings.threads;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    process_pool = std::make_unique<EncodePool>(threads);
  }
  return *process_pool;
}

void stop_encode_pool() {
  std::unique_ptr<EncodePool> pool;
  {
    std::lock_guard lock(pool_mutex);
    pool = std::move(process_pool);
  }
}
