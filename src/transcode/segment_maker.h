#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/source_identity.h"
#include "cache/unique_fd.h"
#include "decoders/decoder.h"
#include "encoders/segment_layout.h"

// What a segment is made from: its source as it was when the file was opened, held open so
// that a source renamed over or removed meanwhile is still the one read, and how to get a
// fresh decoder for it.
struct SegmentSource {
  std::string path;  // for the log
  UniqueFd file;
  SourceIdentity identity;
  // A decoder opened on the name given (open_path()).
  std::function<std::unique_ptr<Decoder>(const std::string&)> open_decoder;

  // The held file by a name every decoder can open.
  std::string open_path() const { return "/proc/self/fd/" + std::to_string(file.get()); }
};

// Segment k's bytes: a pure function of the source, the settings and k, whichever thread
// makes it and whatever was made before. false (logged) when the source cannot be read
// through the segment, has changed since it was opened, or ends inside it.
bool make_segment(const SegmentSource& source, const SegmentLayout& layout, int k,
                  std::vector<uint8_t>& bytes);
