#pragma once

#include <cstddef>
#include <cstdint>

// A fast 64-bit content hash for stored outputs: it tells a damaged or swapped file
// from the one that was written, it is no defence against a deliberate forgery.
// Fed in pieces of any size, it gives the same value as fed all at once.
class Checksum {
 public:
  void update(const uint8_t* data, size_t size);
  uint64_t value() const;

 private:
  void mix(uint64_t word);

  uint64_t state = 0xcbf29ce484222325ull;  // FNV-1a 64 offset basis
  uint64_t length = 0;
  uint8_t partial[8] = {};
  size_t partial_size = 0;
};
