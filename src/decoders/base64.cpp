#include "decoders/base64.h"

namespace {

int value_of(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> decode_base64(const char* text, size_t length) {
  if (length % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(3 * (length / 4) + 3);
  for (size_t at = 0; at < length; at += 4) {
    const auto* group = reinterpret_cast<const unsigned char*>(text + at);
    bool last = at + 4 == length;
    int p = value_of(group[0]);
    int q = value_of(group[1]);
    if (p < 0 || q < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>((p << 2) | (q >> 4)));
    if (group[2] == '=') {
      if (!last || group[3] != '=') return std::nullopt;
      break;
    }
    int r = value_of(group[2]);
    if (r < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(((q << 4) & 0xF0) | (r >> 2)));
    if (group[3] == '=') {
      if (!last) return std::nullopt;
      break;
    }
    int s = value_of(group[3]);
    if (s < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(((r << 6) & 0xC0) | s));
  }
  return out;
}
