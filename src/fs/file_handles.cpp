#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "cache/disk_cache.h"
#include "cache/source_identity.h"
#include "fs/failure.h"
#include "fs/file_reader.h"
#include "fs/handlers.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "sheets/track_source.h"
#include "transcode/output_key.h"
#include "transcode/shared_transcodes.h"

namespace {

// The mirror never changes a source: flags that would create or truncate it
// (O_TRUNC reaches us when the atomic_o_trunc mount option is given) are dropped.
constexpr int source_changing_flags = O_CREAT | O_EXCL | O_TRUNC;

Reader* reader_of(const fuse_file_info* info) {
  return reinterpret_cast<Reader*>(info->fh);
}

void hand_over(std::unique_ptr<Reader> reader, fuse_file_info* info) {
  info->fh = reinterpret_cast<uint64_t>(reader.release());
}

// A finished output kept in the cache directory, read like a plain file. Its size is final,
// so the page cache may hold it.
std::unique_ptr<Reader> stored_output(const std::string& key, const SourceIdentity& identity) {
  DiskCache* disk = disk_cache();
  if (!disk) return nullptr;
  uint64_t size = 0;
  UniqueFd fd = disk->outputs->open_output(key, identity, disk->fingerprint, size);
  if (!fd) return nullptr;
  return std::make_unique<FileReader>(fd.release());
}

int open_transcoded(const char* path, fuse_file_info* info) {
  const std::string source = find_source(path);
  const std::string key = output_key(source);
  struct stat record;
  SourceIdentity identity;
  if (lstat(source_file(source).c_str(), &record) == 0) {
    identity = SourceIdentity::of(record);
    if (auto reader = stored_output(key, identity)) {
      hand_over(std::move(reader), info);
      return 0;
    }
  }
  errno = 0;
  auto reader = shared_transcodes.open(source, key, identity);
  if (!reader) return failure_result();
  // Through the page cache the kernel widens every read to whole pages, so a read of the
  // ID3v1 tag would reach back into the gap and encode the whole file first. Direct I/O
  // hands each read over as the program asked for it.
  info->direct_io = 1;
  hand_over(std::move(reader), info);
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
