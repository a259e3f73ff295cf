#pragma once

#include <sys/types.h>

#include <string>

// Asks the kernel to read the first bytes of a source without waiting for them: a disk, or
// a NAS, answers many queued reads at once far sooner than the same reads one by one.
void prefetch_head(const std::string& path, off_t bytes);
