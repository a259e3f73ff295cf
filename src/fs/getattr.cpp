#include <sys/stat.h>

#include <cerrno>

#include "app/settings.h"
#include "cache/remembered_size.h"
#include "cache/source_identity.h"
#include "fs/failure.h"
#include "fs/handlers.h"
#include "fs/listing_read_ahead.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "sheets/track_source.h"
#include "transcode/output_key.h"
#include "transcode/output_size.h"
#include "transcode/transcoder.h"

namespace {

// The size as an opened file would announce it, built the way an open builds it.
bool size_from_transcoder(const std::string& source, uint64_t& size) {
  Transcoder transcoder(source);
  if (!transcoder.initialize()) return false;
  size = transcoder.size();
  return true;
}

// Remembered while the source is unchanged, in memory, read ahead of the walk or in the cache
// directory; worked out from its metadata otherwise.
bool remembered_or_measured_size(const std::string& source, const struct stat& record,
                                 uint64_t& size) {
  const SourceIdentity identity = SourceIdentity::of(record);
  const std::string key = output_key(source);
  if (find_size_in_memory(key, identity, size)) return true;
  if (read_ahead_size(key, identity, size)) {
    remember_size_in_memory(key, identity, size);
    return true;
  }
  if (find_size_on_disk(key, identity, size)) return true;
  if (!measure_output_size(source, size)) return false;
  remember_size(key, identity, size);
  return true;
}

// Only the size and block count differ from the source's own attributes.
int transcoded_attributes(const std::string& source, struct stat* record) {
  uint64_t size = 0;
  errno = 0;
  const bool known = settings.attrcachesize == 0
                         ? size_from_transcoder(source, size)
                         : remembered_or_measured_size(source, *record, size);
  if (!known) return failure_result();
  record->st_size = static_cast<off_t>(size);
  record->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
  return 0;
}

}  // namespace

int Handlers::getattr(const char* path, struct stat* record) {
  Logging::Logger(Logging::INFO) << "getattr " << path;
  if (lstat(to_source_path(path).c_str(), record) == 0) return 0;
  const std::string source = find_source(path);
  if (lstat(source_file(source).c_str(), record) != 0) return -errno;
  if (!S_ISREG(record->st_mode)) return 0;
  return transcoded_attributes(source, record);
}
