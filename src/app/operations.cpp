#include "app/operations.h"

#include "fs/handlers.h"

namespace {

// Only reading operations are provided; with every writing member left empty
// the FUSE library refuses all changes to the mirror.
fuse_operations reading_operations() {
  fuse_operations table = {};
  table.getattr = Handlers::getattr;
  table.readlink = Handlers::readlink;
  table.open = Handlers::open;
  table.read = Handlers::read;
  table.statfs = Handlers::statfs;
  table.release = Handlers::release;
  table.readdir = Handlers::readdir;
  table.init = Handlers::init;
  table.destroy = Handlers::destroy;
  return table;
}

}  // namespace

const fuse_operations operations_table = reading_operations();
