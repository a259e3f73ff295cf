#pragma once

#include <memory>
#include <string>

#include "cache/cache_database.h"
#include "cache/output_store.h"

// What a mount with a cache directory keeps on disk: the index of sizes and the stored
// outputs, with the fingerprint of this process's settings.
struct DiskCache {
  std::string fingerprint;
  std::unique_ptr<CacheDatabase> database;
  std::unique_ptr<OutputStore> outputs;
};

// Checks at start-up that settings.cachedir can be used (creating it) and makes the
// setting an absolute path, since the process leaves its working directory when it goes
// to the background. false with a one-line error naming the directory.
bool check_cache_directory(std::string& error);

// Opens the cache directory for this process (after any fork: SQLite's locks belong to a
// process). Without a cache directory, or when it fails (logged), there is no disk cache.
void open_disk_cache();
// Commits what is pending and closes it; called when the mount ends.
void close_disk_cache();

// The open disk cache, or nullptr. Set before the first request and cleared after the
// last, so requests read it without a lock.
DiskCache* disk_cache();
