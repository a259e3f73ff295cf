#include <fcntl.h>

#include <cerrno>
#include <memory>

#include "fs/failure.h"
#include "fs/file_reader.h"
#include "fs/handlers.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "transcode/transcoder.h"

namespace {

// The mirror never changes a source: flags that would create or truncate it
// (O_TRUNC reaches us when the atomic_o_trunc mount option is given) are dropped.
constexpr int source_changing_flags = O_CREAT | O_EXCL | O_TRUNC;

Reader* reader_of(const fuse_file_info* info) {
  return reinterpret_cast<Reader*>(info->fh);
}

int open_transcoded(const char* path, fuse_file_info* info) {
  auto transcoder = std::make_unique<Transcoder>(find_source(path));
  errno = 0;
  if (!transcoder->initialize()) return failure_result();
  // Through the page cache the kernel widens every read to whole pages, so a read of the
  // ID3v1 tag would reach back into the gap and encode the whole file first. Direct I/O
  // hands each read over as the program asked for it.
  info->direct_io = 1;
  info->fh = reinterpret_cast<uint64_t>(static_cast<Reader*>(transcoder.release()));
  return 0;
}

}  // namespace

int Handlers::open(const char* path, struct fuse_file_info* info) {
  Logging::Logger(Logging::INFO) << "open " << path;
  const int fd = ::open(to_source_path(path).c_str(), info->flags & ~source_changing_flags);
  if (fd >= 0) {
    info->fh = reinterpret_cast<uint64_t>(static_cast<Reader*>(new FileReader(fd)));
    return 0;
  }
  if (errno != ENOENT) return -errno;
  return open_transcoded(path, info);
}

int Handlers::read(const char* path, char* buffer, size_t size, off_t offset,
                   struct fuse_file_info* info) {
  Logging::Logger(Logging::INFO) << "read " << path << ": " << size << " bytes from " << offset;
  Reader* reader = reader_of(info);
  if (reader == nullptr) {
    Logging::Logger(Logging::ERROR) << "Tried to read from unopen file: " << path;
    return -EBADF;
  }
  const int64_t count = reader->read(buffer, offset, size);
  if (count < 0) return failure_result();
  return static_cast<int>(count);
}

int Handlers::release(const char* path, struct fuse_file_info* info) {
  Logging::Logger(Logging::INFO) << "release " << path;
  delete reader_of(info);
  info->fh = 0;
  return 0;
}
