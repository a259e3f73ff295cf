#pragma once

#include <cstdint>

// What an open file reads from: a passed-through source file or a Transcoder.
class Reader {
 public:
  // Copies up to size bytes at offset into destination. Returns the count
  // (short at the end, 0 at or past it) or -1 with errno set.
  virtual int64_t read(char* destination, int64_t offset, uint64_t size) = 0;
  virtual ~Reader() = default;
};
