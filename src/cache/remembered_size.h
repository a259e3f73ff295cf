#pragma once

#include <cstdint>
#include <string>

#include "cache/source_identity.h"

// The output size remembered under key for a source in the given state: in memory first,
// then in the cache directory's index when the mount has one (and then in memory too).
bool find_remembered_size(const std::string& key, const SourceIdentity& identity, uint64_t& size);

// Remembers a size in memory and, when the mount has one, in the cache directory's index.
void remember_size(const std::string& key, const SourceIdentity& identity, uint64_t size);
