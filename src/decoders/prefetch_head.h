#pragma once

#include <string>

// Asks the kernel to read the start of a source (its tags and a cover of a few hundred KB)
// without waiting for it: a disk, or a NAS, answers many queued reads at once far sooner
// than the same reads one by one.
void prefetch_head(const std::string& path);
