#include "transcode/finished_output.h"

#include "app/settings.h"
#include "cache/disk_cache.h"
#include "cache/remembered_size.h"
#include "fs/file_reader.h"
#include "transcode/stats_cache.h"

void remember_finished_size(const OutputOrigin& origin, uint64_t size) {
  if (size == 0) return;
  if (settings.statcachesize != 0)
    stats_cache.put_size(origin.source_path, size, origin.inputs_mtime);
  if (origin.identity) remember_size(origin.cache_key, *origin.identity, size);
}

std::unique_ptr<Reader> store_finished_output(
    const OutputOrigin& origin, uint64_t size,
    const std::function<bool(uint8_t*, uint64_t, size_t)>& fill) {
  DiskCache* disk = disk_cache();
  if (!disk || !origin.identity || size == 0) return nullptr;
  UniqueFd fd =
      disk->outputs->store(origin.cache_key, *origin.identity, disk->fingerprint, size, fill);
  if (!fd) return nullptr;
  return std::make_unique<FileReader>(fd.release());
}
