// The floor of the listing benchmarks: a FUSE mirror of a directory that does
// nothing but the system calls, with libfuse's default timeouts.
//   bench_passthrough SOURCE MOUNTPOINT [FUSE OPTION]...
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string source_root;

std::string source(const char* path) {
  return source_root + path;
}

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};

int pass_getattr(const char* path, struct stat* record) {
  return lstat(source(path).c_str(), record) == 0 ? 0 : -errno;
}

int pass_readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*) {
  std::unique_ptr<DIR, CloseDir> dir(opendir(source(path).c_str()));
  if (!dir) return -errno;
  while (const dirent* entry = readdir(dir.get())) {
    if (filler(buffer, entry->d_name, nullptr, 0) != 0) break;
  }
  return 0;
}

// The descriptor belongs to the open file until release closes it.
int pass_open(const char* path, fuse_file_info* info) {
  const int fd = open(source(path).c_str(), O_RDONLY);
  if (fd < 0) return -errno;
  info->fh = static_cast<uint64_t>(fd);
  return 0;
}

int pass_read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
  const ssize_t count = pread(static_cast<int>(info->fh), buffer, size, offset);
  return count < 0 ? -errno : static_cast<int>(count);
}

int pass_release(const char*, fuse_file_info* info) {
  close(static_cast<int>(info->fh));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_passthrough SOURCE MOUNTPOINT [FUSE OPTION]...\n");
    return 2;
  }
  source_root = argv[1];
  fuse_operations operations = {};
  operations.getattr = pass_getattr;
  operations.readdir = pass_readdir;
  operations.open = pass_open;
  operations.read = pass_read;
  operations.release = pass_release;
  // FUSE parses everything after SOURCE, under the program's own name.
  argv[1] = argv[0];
  return fuse_main(argc - 1, argv + 1, &operations, nullptr);
}
