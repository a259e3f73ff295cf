#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/source_identity.h"
#include "decoders/decoder.h"
#include "encoders/segment_layout.h"

// What a segment is made from: its source in the state captured when the file was opened,
// and how to get a fresh decoder for it.
struct SegmentSource {
  std::string path;
  SourceIdentity identity;
  std::function<std::unique_ptr<Decoder>()> make_decoder;
};

// Segment k's bytes: a pure function of the source, the settings and k, whichever thread
// makes it and whatever was made before. false (logged) when the source cannot be read
// through the segment, has changed since it was opened, or ends inside it.
bool make_segment(const SegmentSource& source, const SegmentLayout& layout, int k,
                  std::vector<uint8_t>& bytes);
