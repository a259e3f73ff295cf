#pragma once

#include <cstdint>

// The sample count in the stream header of the Musepack SV8 file at path, or 0 when it is
// not such a file or says nothing. FFmpeg gives an SV8 length only in units of 64 frames.
uint64_t musepack_sv8_samples(const char* path);
