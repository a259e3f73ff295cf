#include "cache/disk_cache.h"

#include <climits>
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

}  // namespace

bool check_cache_directory(std::string& error) {
  if (!cache_configured()) return true;
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
