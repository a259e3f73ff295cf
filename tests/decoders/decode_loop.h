#pragma once

#include <vector>

#include "decoders/decoder.h"

// Calls decode_chunk until it returns non-zero or limit calls were made, so that
// a damaged file can never keep a test looping. Returns every result in order.
inline std::vector<int> decode_loop(Decoder& decoder, Encoder& encoder, int limit = 10000) {
  std::vector<int> results;
  for (int i = 0; i < limit; ++i) {
    results.push_back(decoder.decode_chunk(&encoder));
    if (results.back() != 0) break;
  }
  return results;
}
