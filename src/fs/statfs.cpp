#include <sys/statvfs.h>

#include <cerrno>

#include "fs/handlers.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"

int Handlers::statfs(const char* path, struct statvfs* record) {
  Logging::Logger(Logging::INFO) << "statfs " << path;
  if (statvfs(to_source_path(path).c_str(), record) == 0) return 0;
  if (statvfs(find_source(path).c_str(), record) == 0) return 0;
  return -errno;
}
