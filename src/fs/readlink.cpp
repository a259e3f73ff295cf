#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "fs/handlers.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"

int Handlers::readlink(const char* path, char* buffer, size_t size) {
  Logging::Logger(Logging::INFO) << "readlink " << path;
  // Room for at least one byte of target and its NUL; smaller buffers would
  // make the limits below wrap around.
  if (size < 2) return -EINVAL;
  // A real link named like a transcoded file still resolves to the audio
  // source, so the source name is looked up first here.
  const ssize_t length = ::readlink(find_source(path).c_str(), buffer, size - 2);
  if (length < 0) return -errno;
  buffer[length] = '\0';

  const std::string target = to_output_name(buffer);
  const size_t copied = std::min(target.size(), size - 1);
  std::memcpy(buffer, target.data(), copied);
  buffer[copied] = '\0';
  return 0;
}
