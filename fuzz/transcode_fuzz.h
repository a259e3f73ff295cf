#pragma once

#include <cstddef>
#include <cstdint>

// Writes data to a scratch source file with the given extension, transcodes it
// through a Transcoder and reads the output at a few offsets, then to the end.
int fuzz_transcode(const uint8_t* data, size_t size, const char* extension);
