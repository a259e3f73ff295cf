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
  static constexpr size_t kBlock = 32;  // four independent lanes of eight bytes

  void mix_block(const uint8_t* block);

  // Four lanes keep four multiplications in flight: a single chain of them would hold
  // the first read of a stored output to about half a gigabyte a second.
  uint64_t lanes[4] = {0x60ea27eeadc0b5d6ull, 0xc2b2ae3d27d4eb4full, 0x0ull, 0x61c8864e7a143579ull};
  uint64_t length = 0;
  uint8_t partial[kBlock] = {};
  size_t partial_size = 0;
};
