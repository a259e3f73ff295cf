#include "transcode_fuzz.h"

// WavPack stands for every container read through FFmpeg: the same decoder,
// its tag and picture mapping, and the sample conversion. Inputs that are not
// WavPack reach the other demuxers (ASF, Matroska, ADTS, AC-3, Musepack, DSF
// seeds among them) through the content probe that follows a failed open.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_transcode(data, size, "wv");
}
