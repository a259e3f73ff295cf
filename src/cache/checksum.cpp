#include "cache/checksum.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t load_word(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | bytes[i];
  return word;
}

// The closing avalanche of splitmix64, so that every input bit reaches every output bit.
uint64_t finalize(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  x ^= x >> 31;
  return x;
}

}  // namespace

// FNV-1a over 8-byte words; the shift folds the high bits back down, which a plain
// multiply never does, so a change in a word's top bits still spreads.
void Checksum::mix(uint64_t word) {
  state = (state ^ word) * 0x100000001b3ull;
  state ^= state >> 32;
}

void Checksum::update(const uint8_t* data, size_t size) {
  if (size == 0) return;  // data may then be null, which memcpy must not see
  length += size;
  if (partial_size > 0) {
    size_t take = std::min(size, sizeof partial - partial_size);
    std::memcpy(partial + partial_size, data, take);
    partial_size += take;
    data += take;
    size -= take;
    if (partial_size < sizeof partial) return;
    mix(load_word(partial));
    partial_size = 0;
  }
  for (; size >= 8; data += 8, size -= 8) mix(load_word(data));
  std::memcpy(partial, data, size);
  partial_size = size;
}

uint64_t Checksum::value() const {
  Checksum copy = *this;
  if (copy.partial_size > 0) {
    uint8_t last[8] = {};
    std::memcpy(last, copy.partial, copy.partial_size);
    copy.mix(load_word(last));
  }
  copy.mix(length);
  return finalize(copy.state);
}
