#include "cache/disk_cache.h"
#include "fs/handlers.h"

void* Handlers::init(struct fuse_conn_info*) {
  open_disk_cache();
  return nullptr;
}

void Handlers::destroy(void*) {
  close_disk_cache();
}
