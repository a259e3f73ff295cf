// Placeholder until the Buffer lands.
#include "transcode/buffer.h"

void Buffer::append(std::span<const uint8_t>, bool) {}
void Buffer::overwrite_at(std::span<const uint8_t>, uint64_t) {}
void Buffer::set_tail(std::span<const uint8_t>, uint64_t) {}
void Buffer::fit_head_to_tail() {}
void Buffer::fit_tail_to_head() {}
uint64_t Buffer::total_size() const { return 0; }
bool Buffer::has_range(int64_t, uint64_t) const { return false; }
uint64_t Buffer::available_from(int64_t) const { return 0; }
void Buffer::copy_into(uint8_t*, int64_t, uint64_t) const {}
