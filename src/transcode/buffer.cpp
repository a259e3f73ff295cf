#include "transcode/buffer.h"

#include <algorithm>
#include <cstring>

#include "logging/logger.h"

void Buffer::append(std::span<const uint8_t> bytes, bool extend) {
  head.insert(head.end(), bytes.begin(), bytes.end());
  if (head.size() <= tail_offset_) return;
  if (extend) {
    tail_offset_ = head.size();
  } else {
    head.resize(tail_offset_);
  }
}

void Buffer::overwrite_at(std::span<const uint8_t> bytes, uint64_t offset) {
  // Clipped to the stored head: a caller's bad offset must never write outside it.
  if (bytes.empty() || offset >= head.size()) return;
  const uint64_t count = std::min<uint64_t>(bytes.size(), head.size() - offset);
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
  head.resize(tail_offset_, 0);
}

void Buffer::fit_tail_to_head() {
  tail_offset_ = head.size();
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
  return end <= head.size() || start >= tail_offset_ || head.size() == tail_offset_;
}

uint64_t Buffer::available_from(int64_t offset) const {
  const uint64_t start = static_cast<uint64_t>(offset);
  if (start > total_size()) return 0;
  if (head.size() != tail_offset_ && start < tail_offset_) {
    return start <= head.size() ? head.size() - start : 0;
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
  if (end <= head.size()) {
    std::memcpy(destination, head.data() + start, size);
  } else if (start >= tail_offset_) {
    std::memcpy(destination, tail.data() + (start - tail_offset_), size);
  } else {
    const uint64_t from_head = head.size() - start;
    std::memcpy(destination, head.data() + start, from_head);
    std::memcpy(destination + from_head, tail.data(), size - from_head);
  }
}
