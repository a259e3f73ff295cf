#pragma once

#include <fuse.h>

// The handler table handed to the FUSE library; every writing operation stays empty.
extern const fuse_operations operations_table;
