#include "decoders/image_type.h"

#include <cstring>
#include <string_view>

namespace {

struct Signature {
  size_t offset;
  std::string_view bytes;
  const char* mime_type;
};

const Signature image_signatures[] = {
    {0, "\x89PNG\r\n\x1a\n", "image/png"},
    {0, "\xff\xd8\xff", "image/jpeg"},
    {0, "GIF8", "image/gif"},
    {0, "BM", "image/bmp"},
    {8, "WEBP", "image/webp"},
};

}  // namespace

std::string image_mime_type(const uint8_t* data, size_t size) {
  for (const Signature& s : image_signatures) {
    if (size >= s.offset + s.bytes.size() &&
        std::memcmp(data + s.offset, s.bytes.data(), s.bytes.size()) == 0) {
      return s.mime_type;
    }
  }
  return "";
}
