#include "cache/checksum.h"

#include <endian.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kPrime1 = 0x9e3779b185ebca87ull;
constexpr uint64_t kPrime2 = 0xc2b2ae3d27d4eb4full;
constexpr uint64_t kPrime4 = 0x85ebca77c2b2ae63ull;

uint64_t load_word(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return le64toh(word);  // the same value on every machine that reads the cache
}

uint64_t rotate_left(uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

uint64_t round(uint64_t lane, uint64_t word) {
  return rotate_left(lane + word * kPrime2, 31) * kPrime1;
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

void Checksum::mix_block(const uint8_t* block) {
  for (int i = 0; i < 4; ++i) lanes[i] = round(lanes[i], load_word(block + 8 * i));
}

void Checksum::update(const uint8_t* data, size_t size) {
  if (size == 0) return;  // data may then be null, which memcpy must not see
  length += size;
  if (partial_size > 0) {
    const size_t take = std::min(size, kBlock - partial_size);
    std::memcpy(partial + partial_size, data, take);
    partial_size += take;
    data += take;
    size -= take;
    if (partial_size < kBlock) return;
    mix_block(partial);
    partial_size = 0;
  }
  for (; size >= kBlock; data += kBlock, size -= kBlock) mix_block(data);
  std::memcpy(partial, data, size);
  partial_size = size;
}

uint64_t Checksum::value() const {
  uint64_t h = rotate_left(lanes[0], 1) + rotate_left(lanes[1], 7) + rotate_left(lanes[2], 12) +
               rotate_left(lanes[3], 18);
  for (uint64_t lane : lanes) h = (h ^ round(0, lane)) * kPrime1 + kPrime4;
  // The bytes after the last whole block, zero-padded to whole words; the length tells a
  // padded end from real zeros.
  uint8_t rest[kBlock] = {};
  std::memcpy(rest, partial, partial_size);
  for (size_t at = 0; at < partial_size; at += 8) {
    h = rotate_left(h ^ round(0, load_word(rest + at)), 27) * kPrime1 + kPrime4;
  }
  return finalize(h ^ length);
}
