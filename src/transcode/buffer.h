#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The in-memory output file of one Transcoder: a head growing from offset 0
// (ID3v2 tag, then MP3 frames) and a fixed tail (ID3v1 tag) at tail_offset.
class Buffer {
 public:
  void append(std::span<const uint8_t> bytes, bool extend);
  void overwrite_at(std::span<const uint8_t> bytes, uint64_t offset);
  void set_tail(std::span<const uint8_t> bytes, uint64_t offset);
  void fit_head_to_tail();
  void fit_tail_to_head();
  // Makes room for a head of this many bytes at once, so that it never grows by copying.
  // Pages are only taken as bytes arrive, so a generous figure costs address space only.
  void reserve_head(uint64_t bytes);

  uint64_t total_size() const;
  bool has_range(int64_t offset, uint64_t size) const;
  uint64_t available_from(int64_t offset) const;
  void copy_into(uint8_t* destination, int64_t offset, uint64_t size) const;

  uint64_t head_size() const { return head.size() + zero_fill; }
  uint64_t tail_offset() const { return tail_offset_; }

 private:
  // Bytes [start, start + size) of the head, the unstored padding as zeros.
  void copy_head(uint8_t* destination, uint64_t start, uint64_t size) const;

  std::vector<uint8_t> head;
  // Zero bytes that logically end the head but are not stored: padding up to an
  // announced size that a damaged source may put gigabytes away.
  uint64_t zero_fill = 0;
  std::vector<uint8_t> tail;
  uint64_t tail_offset_ = 0;
};
