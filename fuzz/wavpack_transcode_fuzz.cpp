#include "transcode_fuzz.h"

// WavPack stands for every container read through FFmpeg: the same decoder,
// its tag and picture mapping, and the sample conversion.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_transcode(data, size, "wv");
}
