#include "cache/remembered_size.h"

#include "cache/attr_cache.h"
#include "cache/disk_cache.h"

bool find_remembered_size(const std::string& key, const SourceIdentity& identity, uint64_t& size) {
  return find_size_in_memory(key, identity, size) || find_size_on_disk(key, identity, size);
}

bool find_size_in_memory(const std::string& key, const SourceIdentity& identity, uint64_t& size) {
  return attr_cache.find(key, identity, size);
}

bool find_size_on_disk(const std::string& key, const SourceIdentity& identity, uint64_t& size) {
  DiskCache* disk = disk_cache();
  if (!disk || !disk->database->find_size(key, identity, disk->fingerprint, size)) return false;
  attr_cache.put(key, identity, size);
  return true;
}

void remember_size(const std::string& key, const SourceIdentity& identity, uint64_t size) {
  remember_size_in_memory(key, identity, size);
  remember_size_on_disk(key, identity, size);
}

void remember_size_in_memory(const std::string& key, const SourceIdentity& identity,
                             uint64_t size) {
  attr_cache.put(key, identity, size);
}

void remember_size_on_disk(const std::string& key, const SourceIdentity& identity, uint64_t size) {
  if (DiskCache* disk = disk_cache()) {
    disk->database->store_size(key, identity, disk->fingerprint, size);
  }
}
