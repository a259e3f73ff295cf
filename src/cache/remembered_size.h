#pragma once

#include <cstdint>
#include <string>

#include "cache/source_identity.h"

// The output size remembered under key for a source in the given state: in memory first,
// then in the cache directory's index when the mount has one (and then in memory too).
bool find_remembered_size(const std::string& key, const SourceIdentity& identity, uint64_t& size);

// The two halves of find_remembered_size, for a caller with another place to look between.
bool find_size_in_memory(const std::string& key, const SourceIdentity& identity, uint64_t& size);
bool find_size_on_disk(const std::string& key, const SourceIdentity& identity, uint64_t& size);

// Remembers a size in memory and, when the mount has one, in the cache directory's index.
void remember_size(const std::string& key, const SourceIdentity& identity, uint64_t size);

// The two halves of remember_size: a size worked out ahead of any reader goes to disk at
// once, and into memory only when a reader asks for it.
void remember_size_in_memory(const std::string& key, const SourceIdentity& identity, uint64_t size);
void remember_size_on_disk(const std::string& key, const SourceIdentity& identity, uint64_t size);
