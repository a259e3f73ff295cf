#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cache/source_identity.h"
#include "fs/reader.h"

// Where an output came from, as what is learnt from finishing it is kept under.
struct OutputOrigin {
  std::string source_path;
  std::string cache_key;
  std::optional<SourceIdentity> identity;
  int64_t inputs_mtime = 0;  // what the stats cache stamps the size with
};

// A later stat reports what a finished output turned out to be.
void remember_finished_size(const OutputOrigin& origin, uint64_t size);

// The finished output kept in the cache directory, to be served from there; none without a
// cache directory or when storing fails (logged by the store). fill copies any range.
std::unique_ptr<Reader> store_finished_output(
    const OutputOrigin& origin, uint64_t size,
    const std::function<bool(uint8_t*, uint64_t, size_t)>& fill);
