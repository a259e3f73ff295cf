#include "cache/disk_cache.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/settings.h"
#include "cache/output_fingerprint.h"
#include "logging/logger.h"

namespace {

std::unique_ptr<DiskCache> current;

bool cache_configured() {
  return settings.cachedir != nullptr && settings.cachedir[0] != '\0';
}

// olvex leaves the mode of a directory it did not make alone; what it keeps inside is
// private all the same, but others who can enter it see the names in it.
void warn_if_others_can_enter(const std::string& dir, mode_t mode) {
  if ((mode & (S_IXGRP | S_IXOTH)) == 0) return;
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
  Logging::Logger(Logging::INFO)
      << "Warning: cache directory " << dir << " (mode " << octal
      << ") can be entered by other users: its listing is visible to them, although every file "
         "olvex keeps in it is private.";
}

}  // namespace

bool check_cache_directory(std::string& error) {
  if (!cache_configured()) return true;
  struct stat before;
  const bool existed = stat(settings.cachedir, &before) == 0;
  if (!CacheDatabase::open(settings.cachedir, error)) return false;
  char resolved[PATH_MAX];
  if (realpath(settings.cachedir, resolved) == nullptr) {
    error = std::string("Cache directory is not usable: ") + settings.cachedir + " (" +
            std::strerror(errno) + ")";
    return false;
  }
  static std::string absolute;  // the settings point into it for the life of the process
  absolute = resolved;
  settings.cachedir = absolute.c_str();
  if (existed) warn_if_others_can_enter(absolute, before.st_mode);
  return true;
}

void open_disk_cache() {
  if (!cache_configured()) return;
  std::string error;
  auto database = CacheDatabase::open(settings.cachedir, error);
  if (!database) {
    Logging::Logger(Logging::ERROR) << error << "; going on without it.";
    return;
  }
  auto cache = std::make_unique<DiskCache>();
  cache->fingerprint = output_fingerprint();
  cache->outputs = std::make_unique<OutputStore>(*database, settings.cachedir, settings.cachesize);
  cache->database = std::move(database);
  current = std::move(cache);
}

void close_disk_cache() {
  if (!current) return;
  current->database->flush();
  current.reset();
}

DiskCache* disk_cache() {
  return current.get();
}
