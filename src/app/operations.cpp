#include "app/operations.h"

// Handlers are filled in as the filesystem layer lands.
const fuse_operations operations_table = {};
