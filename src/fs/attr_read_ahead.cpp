#include "fs/attr_read_ahead.h"

#include <algorithm>
#include <utility>

#include "logging/logger.h"

AttrReadAhead::AttrReadAhead(std::function<EncodePool&()> pool, Measure measure, Prefetch prefetch)
    : pool(std::move(pool)), measure(std::move(measure)), prefetch(std::move(prefetch)) {}

void AttrReadAhead::listed(const std::string& directory, const struct stat& directory_record,
                           std::vector<File> files) {
  const SourceIdentity state = SourceIdentity::of(directory_record);
  std::vector<std::string> queued_sources;
  std::unique_lock lock(mutex);
  const auto same_directory = [&](const std::shared_ptr<Listing>& l) {
    return l->directory == directory;
  };
  if (auto old = std::find_if(listings.begin(), listings.end(), same_directory);
      old != listings.end()) {
    if ((*old)->state == state) return;  // its work is under way or done
    drop_locked(*old);
  }
  if (files.size() > kMaxHeld) files.resize(kMaxHeld);
  auto listing = std::make_shared<Listing>();
  listing->directory = directory;
  listing->state = state;
  for (File& file : files) {
    // Measured or held already for another listing of the same file.
    if (slots.count(file.key)) continue;
    Slot slot{std::move(file.source), file.identity, file.known ? State::Ready : State::Queued,
              file.size, listing};
    if (!file.known) listing->keys.push_back(file.key);
    slots.emplace(std::move(file.key), std::move(slot));
  }
  listings.push_back(listing);
  bound_locked(listing);
  queue_more_locked(listing, queued_sources);
  lock.unlock();
  prefetch_all(queued_sources);
}

void AttrReadAhead::prefetch_all(const std::vector<std::string>& sources) const {
  if (!prefetch) return;
  for (const std::string& source : sources) prefetch(source);
}

void AttrReadAhead::queue_more_locked(const std::shared_ptr<Listing>& listing,
                                      std::vector<std::string>& queued_sources) {
  while (!listing->dropped && listing->queued < kWindow && listing->next < listing->keys.size()) {
    const std::string& key = listing->keys[listing->next++];
    const auto it = slots.find(key);
    if (it == slots.end() || it->second.state != State::Queued || it->second.listing != listing)
      continue;  // taken by a reader, or dropped
    // The pool's own lock never calls out, so taking it under ours cannot turn around.
    if (!pool().submit(this, next_job++, EncodePool::Urgency::Attributes,
                       [this, listing, key] { run(listing, key); })) {
      return;  // stopping
    }
    ++listing->queued;
    queued_sources.push_back(it->second.source);
  }
}

void AttrReadAhead::run(const std::shared_ptr<Listing>& listing, const std::string& key) {
  struct stat now = {};
  const bool unchanged =
      lstat(listing->directory.c_str(), &now) == 0 && SourceIdentity::of(now) == listing->state;
  std::string source;
  SourceIdentity identity;
  std::vector<std::string> queued_sources;
  {
    std::unique_lock lock(mutex);
    --listing->queued;
    if (!unchanged) drop_locked(listing);
    const auto it = slots.find(key);
    if (listing->dropped || it == slots.end() || it->second.state != State::Queued ||
        it->second.listing != listing) {
      queue_more_locked(listing, queued_sources);
      lock.unlock();
      prefetch_all(queued_sources);
      return;
    }
    it->second.state = State::Running;
    source = it->second.source;
    identity = it->second.identity;
  }
  struct stat record = {};
  uint64_t size = 0;
  const bool measured_it = lstat(source.c_str(), &record) == 0 &&
                           SourceIdentity::of(record) == identity &&
                           measure(source, key, identity, size);
  std::unique_lock lock(mutex);
  // A running slot is never removed by anyone else. One of a dropped listing goes, since no
  // listing would ever drop it.
  auto it = slots.find(key);
  if (measured_it) Logging::Logger(Logging::DEBUG) << "Size read ahead: " << source;
  if (measured_it && !listing->dropped) {
    it->second.state = State::Ready;
    it->second.size = size;
  } else {
    slots.erase(it);
  }
  measured.notify_all();
  queue_more_locked(listing, queued_sources);
  lock.unlock();
  prefetch_all(queued_sources);
}

bool AttrReadAhead::answer(const std::string& key, const SourceIdentity& identity, uint64_t& size) {
  std::unique_lock lock(mutex);
  auto it = slots.find(key);
  if (it == slots.end()) return false;
  if (it->second.state == State::Running) {
    measured.wait(lock, [&] {
      it = slots.find(key);
      return it == slots.end() || it->second.state != State::Running;
    });
    if (it == slots.end()) return false;
  }
  const bool ready = it->second.state == State::Ready && it->second.identity == identity;
  if (ready) size = it->second.size;
  // Handed over, stale, or taken off the queue for the caller to measure now.
  slots.erase(it);
  return ready;
}

void AttrReadAhead::drop_locked(const std::shared_ptr<Listing>& listing) {
  if (listing->dropped) return;
  listing->dropped = true;
  for (auto it = slots.begin(); it != slots.end();) {
    if (it->second.listing == listing && it->second.state != State::Running) {
      it = slots.erase(it);
    } else {
      ++it;
    }
  }
  listings.erase(std::remove(listings.begin(), listings.end(), listing), listings.end());
}

void AttrReadAhead::bound_locked(const std::shared_ptr<Listing>& keep) {
  while (slots.size() > kMaxHeld && listings.front() != keep) drop_locked(listings.front());
}

void AttrReadAhead::clear() {
  std::lock_guard lock(mutex);
  while (!listings.empty()) drop_locked(listings.front());
}

size_t AttrReadAhead::held() {
  std::lock_guard lock(mutex);
  return slots.size();
}
