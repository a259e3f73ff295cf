#include "cache/output_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "cache/cache_directory.h"
#include "cache/checksum.h"
#include "fs/dir_handle.h"
#include "logging/logger.h"

namespace {

std::atomic<uint64_t> temp_counter{0};

constexpr int64_t kSettledSeconds = 2;

// A name no other process or thread uses at the same time.
std::string temp_name() {
  return std::string(cache_layout::kTempDir) + "/" + std::to_string(getpid()) + "-" +
         std::to_string(gettid()) + "-" + std::to_string(temp_counter++) + ".part";
}

bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Checksum of the first size bytes of fd; false on a read error or an early end.
bool checksum_of(int fd, uint64_t size, uint64_t& result) {
  std::vector<uint8_t> chunk(std::min<uint64_t>(size, OutputStore::kChunkSize));
  Checksum checksum;
  for (uint64_t offset = 0; offset < size;) {
    ssize_t got = pread(fd, chunk.data(), std::min<uint64_t>(chunk.size(), size - offset),
                        static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    checksum.update(chunk.data(), static_cast<size_t>(got));
    offset += static_cast<uint64_t>(got);
  }
  result = checksum.value();
  return true;
}

// Removes a temporary file unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(std::string path) : path(std::move(path)) {}
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void keep() { path.clear(); }

 private:
  std::string path;
};

// Temporary names begin with the writer's process id; a writer that is gone will never
// finish its file. Another live process's files are left alone.
void remove_abandoned_temp_files(const std::string& temp_dir) {
  DirHandle handle(opendir(temp_dir.c_str()));
  if (!handle) return;
  while (const dirent* entry = readdir(handle.get())) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '-' || pid <= 0) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      unlink((temp_dir + "/" + entry->d_name).c_str());
    }
  }
}

}  // namespace

OutputStore::OutputStore(CacheDatabase& database, std::string dir, uint64_t capacity)
    : database(database), dir(std::move(dir)), capacity(capacity) {
  remove_abandoned_temp_files(this->dir + "/" + cache_layout::kTempDir);
}

std::string OutputStore::file_name(const std::string& source_path, const SourceIdentity& id,
                                   const std::string& fingerprint) {
  std::string key = source_path;
  key.push_back('\0');
  key += fingerprint;
  key.push_back('\0');
  key.append(reinterpret_cast<const char*>(&id), sizeof id);
  // Two hashes of the key, the second salted, make a 128-bit name.
  Checksum first, second;
  first.update(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  second.update(reinterpret_cast<const uint8_t*>("name"), 4);
  second.update(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  char name[64];
  std::snprintf(name, sizeof name, "%s/%02x/%016" PRIx64 "%016" PRIx64 ".out",
                cache_layout::kOutputsDir, static_cast<unsigned>(first.value() >> 56),
                first.value(), second.value());
  return name;
}

UniqueFd OutputStore::open_output(const std::string& source_path, const SourceIdentity& id,
                                  const std::string& fingerprint, uint64_t& size) {
  CacheDatabase::OutputRecord record;
  if (!database.find_output(source_path, fingerprint, record)) return {};
  if (!(record.source == id)) {
    // Made from an earlier state of the source: it can never be used again.
    Logging::Logger(Logging::DEBUG) << "Stored output of " << source_path << " is out of date.";
    drop(source_path, fingerprint, record.file, 0);
    return {};
  }
  const std::string path = dir + "/" + record.file;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0) {
    const int error = errno;
    Logging::Logger(Logging::ERROR) << "Stored output " << path << " of " << source_path
                                    << " cannot be opened: " << std::strerror(error) << ".";
    drop(source_path, fingerprint, record.file, 0);
    return {};
  }
  Verified state{SourceIdentity::of(st), record.checksum};
  if (!verified_before(record.file, state)) {
    uint64_t checksum = 0;
    const char* fault = nullptr;
    if (static_cast<uint64_t>(st.st_size) != record.size) {
      fault = "has the wrong size";
    } else if (!checksum_of(fd.get(), record.size, checksum)) {
      fault = "cannot be read";
    } else if (checksum != record.checksum) {
      fault = "does not match its checksum";
    }
    if (fault) {
      Logging::Logger(Logging::ERROR) << "Stored output " << path << " of " << source_path << " "
                                      << fault << "; it is dropped.";
      drop(source_path, fingerprint, record.file, st.st_ino);
      return {};
    }
    // A change within the file system's timestamp granularity of the check would leave
    // the file's identity as it is now, so only a file settled for a while is trusted
    // from memory; a fresh one is checked again at each use until then.
    if (st.st_ctim.tv_sec + kSettledSeconds <= std::time(nullptr)) {
      mark_verified(record.file, state);
    }
  }
  database.touch_output(source_path, fingerprint, record.file);
  size = record.size;
  return fd;
}

UniqueFd OutputStore::store(const std::string& source_path, const SourceIdentity& id,
                            const std::string& fingerprint, uint64_t size, const Fill& fill) {
  if (size > capacity) {
    Logging::Logger(Logging::DEBUG)
        << "Output of " << source_path << " is larger than the whole cache; not stored.";
    return {};
  }
  CacheDatabase::OutputRecord record{id, file_name(source_path, id, fingerprint), size, 0};
  const std::string temp = dir + "/" + temp_name();
  const std::string final_path = dir + "/" + record.file;
  const std::string folder = final_path.substr(0, final_path.rfind('/'));
  std::string failure;
  TempFile temp_file(temp);
  bool ok = write_output(temp, size, fill, record.checksum, failure);
  // Opened before the rename, the descriptor is of the very file just summed, whatever
  // replaces the name later.
  UniqueFd written;
  if (ok) written = UniqueFd(open(temp.c_str(), O_RDONLY | O_CLOEXEC));
  if (ok && !(written && make_directory(dir + "/" + cache_layout::kOutputsDir) &&
              make_directory(folder) && rename(temp.c_str(), final_path.c_str()) == 0)) {
    failure = std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    Logging::Logger(Logging::ERROR) << "Could not store the output of " << source_path << " in "
                                    << dir << ": " << failure << ".";
    return {};
  }
  temp_file.keep();

  struct stat st;
  ino_t inode = stat(final_path.c_str(), &st) == 0 ? st.st_ino : 0;
  std::vector<std::string> released;
  if (!database.record_output(source_path, fingerprint, record, capacity, released)) {
    drop(source_path, fingerprint, record.file, inode);
    return {};
  }
  for (const std::string& file : released) {
    forget(file);
    unlink((dir + "/" + file).c_str());
  }
  return written;
}

// Copies the output into a new file at temp, summing it on the way.
bool OutputStore::write_output(const std::string& temp, uint64_t size, const Fill& fill,
                               uint64_t& checksum, std::string& failure) {
  // The folders may have gone with a cache directory emptied by hand.
  make_directory(dir + "/" + cache_layout::kTempDir);
  UniqueFd fd = open_private_file(temp, O_WRONLY | O_EXCL);
  if (!fd) {
    failure = std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> chunk(std::min<uint64_t>(size, kChunkSize));
  Checksum sum;
  for (uint64_t offset = 0; offset < size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - offset));
    if (!fill(chunk.data(), offset, n)) {
      failure = "the output could not be read back";
      return false;
    }
    if (!write_all(fd.get(), chunk.data(), n)) {
      failure = std::strerror(errno);
      return false;
    }
    sum.update(chunk.data(), n);
    offset += n;
  }
  // close can be the first to report a delayed write error.
  if (fd.close_now() != 0) {
    failure = std::strerror(errno);
    return false;
  }
  checksum = sum.value();
  return true;
}

void OutputStore::drop(const std::string& source_path, const std::string& fingerprint,
                       const std::string& file, ino_t inspected_inode) {
  database.remove_output(source_path, fingerprint, file);
  forget(file);
  const std::string path = dir + "/" + file;
  struct stat st;
  // A file put there by another process since it was inspected is left alone.
  if (inspected_inode != 0 && (stat(path.c_str(), &st) != 0 || st.st_ino != inspected_inode)) {
    return;
  }
  unlink(path.c_str());
}

bool OutputStore::verified_before(const std::string& file, const Verified& state) {
  std::lock_guard lock(mutex);
  auto it = verified.find(file);
  return it != verified.end() && it->second == state;
}

void OutputStore::mark_verified(const std::string& file, const Verified& state) {
  std::lock_guard lock(mutex);
  verified[file] = state;
}

void OutputStore::forget(const std::string& file) {
  std::lock_guard lock(mutex);
  verified.erase(file);
}
