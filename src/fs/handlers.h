#pragma once

#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

// The FUSE handlers; each logs its INFO line and returns 0, a count or -errno.
namespace Handlers {
int getattr(const char* path, struct stat* record);
int readlink(const char* path, char* buffer, size_t size);
int readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t offset,
            struct fuse_file_info* info);
int statfs(const char* path, struct statvfs* record);
int open(const char* path, struct fuse_file_info* info);
int read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* info);
int release(const char* path, struct fuse_file_info* info);

// The mount's start and end, in the process that serves it: open and close what is kept
// in the cache directory.
void* init(struct fuse_conn_info* connection);
void destroy(void* private_data);
}  // namespace Handlers
