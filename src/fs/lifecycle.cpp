#include "cache/disk_cache.h"
#include "fs/handlers.h"
#include "fs/listing_read_ahead.h"
#include "pool/encode_pool.h"

void* Handlers::init(struct fuse_conn_info*) {
  open_disk_cache();
  return nullptr;
}

void Handlers::destroy(void*) {
  // Workers may be storing a finished output: they end before the cache closes.
  stop_encode_pool();
  stop_read_ahead();
  close_disk_cache();
}
