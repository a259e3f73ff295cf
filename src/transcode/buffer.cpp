#include "transcode/buffer.h"

#include <algorithm>
#include <cstring>

#include "logging/logger.h"

void Buffer::append(std::span<const uint8_t> bytes, bool extend) {
  if (zero_fill != 0) {
    if (!extend) return;  // the head is already complete up to the tail
    head.resize(head.size() + zero_fill, 0);
    zero_fill = 0;
  }
  head.insert(head.end(), bytes.begin(), bytes.end());
  if (head.size() <= tail_offset_) return;
  if (extend) {
    tail_offset_ = head.size();
  } else {
    head.resize(tail_offset_);
  }
}

void Buffer::reserve_head(uint64_t bytes) {
  // A damaged source can announce any length; beyond this the head grows as before.
  constexpr uint64_t kLargestReservation = uint64_t{1} << 30;
  head.reserve(static_cast<size_t>(std::min(bytes, kLargestReservation)));
}

void Buffer::overwrite_at(std::span<const uint8_t> bytes, uint64_t offset) {
  // Clipped to the stored head: a caller's bad offset must never write outside it.
  const uint64_t size = head_size();
  if (bytes.empty() || offset >= size) return;
  const uint64_t count = std::min<uint64_t>(bytes.size(), size - offset);
  if (offset + count > head.size()) {
    // Only the few bytes written are stored; the rest of the padding stays virtual.
    zero_fill -= offset + count - head.size();
    head.resize(offset + count, 0);
  }
  std::memmove(head.data() + offset, bytes.data(), count);
}

void Buffer::set_tail(std::span<const uint8_t> bytes, uint64_t offset) {
  if (bytes.data() != tail.data() || bytes.size() != tail.size()) {
    // Through a copy, so that a part of the tail itself is also taken safely.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    tail.swap(copy);
  }
  tail_offset_ = offset;
}

void Buffer::fit_head_to_tail() {
  if (head_size() >= tail_offset_) {
    zero_fill = 0;
    head.resize(tail_offset_);
  } else {
    zero_fill = tail_offset_ - head.size();
  }
}

void Buffer::fit_tail_to_head() {
  tail_offset_ = head_size();
}

uint64_t Buffer::total_size() const {
  return tail_offset_ + tail.size();
}

bool Buffer::has_range(int64_t offset, uint64_t size) const {
  if (offset < 0) return false;
  const uint64_t start = static_cast<uint64_t>(offset);
  const uint64_t total = total_size();
  // Written as a subtraction so that a huge size cannot wrap the end around.
  if (start > total || size > total - start) return false;
  const uint64_t end = start + size;
  return end <= head_size() || start >= tail_offset_ || head_size() == tail_offset_;
}

uint64_t Buffer::available_from(int64_t offset) const {
  const uint64_t start = static_cast<uint64_t>(offset);
  if (start > total_size()) return 0;
  const uint64_t head_end = head_size();
  if (head_end != tail_offset_ && start < tail_offset_) {
    return start <= head_end ? head_end - start : 0;
  }
  return total_size() - start;
}

void Buffer::copy_into(uint8_t* destination, int64_t offset, uint64_t size) const {
  if (!has_range(offset, size)) {
    Logging::Logger(Logging::ERROR)
        << "Invalid offset=" << offset << " size=" << size << " in Buffer::copy_into.";
    return;
  }
  if (size == 0) return;
  const uint64_t start = static_cast<uint64_t>(offset);
  const uint64_t end = start + size;
  if (end <= head_size()) {
    copy_head(destination, start, size);
  } else if (start >= tail_offset_) {
    std::memcpy(destination, tail.data() + (start - tail_offset_), size);
  } else {
    const uint64_t from_head = head_size() - start;
    copy_head(destination, start, from_head);
    std::memcpy(destination + from_head, tail.data(), size - from_head);
  }
}

void Buffer::copy_head(uint8_t* destination, uint64_t start, uint64_t size) const {
  const uint64_t stored = start < head.size() ? std::min<uint64_t>(size, head.size() - start) : 0;
  if (stored != 0) std::memcpy(destination, head.data() + start, stored);
  std::memset(destination + stored, 0, size - stored);
}
