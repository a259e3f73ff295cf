#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cache/source_identity.h"

// The mount's read-ahead of output sizes, fed by directory listings and asked by getattr.

struct ListedEntry {
  std::string name;
  struct stat record;
};

// Whether listings are worth collecting: sizes are remembered at all.
bool read_ahead_wanted();

// Starts working out, ahead of their stats, the sizes of the files a listing of directory
// (a source path) will show transcoded and that no cache knows. directory_record: the
// directory's lstat from before its entries were read. entries: the shown ones only.
void read_ahead_listing(const std::string& directory, const struct stat& directory_record,
                        const std::vector<ListedEntry>& entries);

// The size read ahead for key while its source keeps identity; waits while it is being
// worked out. false: work it out as without read-ahead.
bool read_ahead_size(const std::string& key, const SourceIdentity& identity, uint64_t& size);

// Forgets all; called at unmount once the pool has stopped.
void stop_read_ahead();
