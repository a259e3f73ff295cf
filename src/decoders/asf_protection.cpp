#include "decoders/asf_protection.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

using Guid = uint8_t[16];

// GUIDs as stored: the first three fields little-endian.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11,
                                0xa6, 0xd9, 0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c};
constexpr Guid kContentEncryption = {0xfb, 0xb3, 0x11, 0x22, 0x23, 0xbd, 0xd2, 0x11,
                                     0xb4, 0xb7, 0x00, 0xa0, 0xc9, 0x55, 0xfc, 0x6e};
constexpr Guid kExtendedContentEncryption = {0x14, 0xe6, 0x8a, 0x29, 0x22, 0x26, 0x17, 0x4c,
                                             0xb9, 0x35, 0xda, 0xe0, 0x7e, 0xe9, 0x28, 0x9c};
constexpr size_t kObjectHead = 16 + 8;           // GUID, size
constexpr size_t kHeaderHead = kObjectHead + 6;  // then a count and two reserved bytes
constexpr uint32_t kMostObjects = 4096;

uint64_t le64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

bool scan(int fd) {
  uint8_t head[kHeaderHead];
  if (pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
  if (memcmp(head, kHeaderObject, sizeof(Guid)) != 0) return false;
  const uint64_t header_end = le64(head + 16);
  const uint32_t count = head[24] | head[25] << 8 | head[26] << 16 | uint32_t{head[27]} << 24;
  uint64_t at = kHeaderHead;
  for (uint32_t i = 0; i < count && i < kMostObjects && at + kObjectHead <= header_end; ++i) {
    uint8_t object[kObjectHead];
    if (pread(fd, object, sizeof object, static_cast<off_t>(at)) !=
        static_cast<ssize_t>(sizeof object)) {
      return false;
    }
    if (memcmp(object, kContentEncryption, sizeof(Guid)) == 0 ||
        memcmp(object, kExtendedContentEncryption, sizeof(Guid)) == 0) {
      return true;
    }
    const uint64_t size = le64(object + 16);
    if (size < kObjectHead || size > header_end - at) return false;
    at += size;
  }
  return false;
}

}  // namespace

bool asf_is_protected(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool found = scan(fd);
  close(fd);
  return found;
}
