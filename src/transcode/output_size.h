#pragma once

#include <cstdint>
#include <string>

// The size a Transcoder for source_path would give its output, worked out from the source's
// metadata alone: no encoder is set up, no tag rendered, no picture copied. false with errno
// EIO where the Transcoder would fail too.
bool measure_output_size(const std::string& source_path, uint64_t& size);
