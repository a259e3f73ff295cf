#include <sys/stat.h>

#include <cerrno>

#include "fs/failure.h"
#include "fs/handlers.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "transcode/transcoder.h"

namespace {

// Only the size and block count differ from the source's own attributes.
int transcoded_attributes(const std::string& source, struct stat* record) {
  Transcoder transcoder(source);
  errno = 0;
  if (!transcoder.initialize()) return failure_result();
  const uint64_t size = transcoder.output().total_size();
  record->st_size = static_cast<off_t>(size);
  record->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
  return 0;
}

}  // namespace

int Handlers::getattr(const char* path, struct stat* record) {
  Logging::Logger(Logging::INFO) << "getattr " << path;
  if (lstat(to_source_path(path).c_str(), record) == 0) return 0;
  if (lstat(find_source(path).c_str(), record) != 0) return -errno;
  if (!S_ISREG(record->st_mode)) return 0;
  return transcoded_attributes(find_source(path), record);
}
