#include "decoders/ogg_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kPageHeader = 27;  // up to and including the segment count
constexpr size_t kSegmentCountAt = 26;
constexpr char kVorbisSignature[] = "\x01vorbis";
constexpr size_t kSignatureSize = sizeof kVorbisSignature - 1;
// The identification header's version (4 bytes) comes before its channel count.
constexpr size_t kChannelsAt = kSignatureSize + 4;

}  // namespace

OggStream first_ogg_stream(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return OggStream::NotOgg;
  uint8_t page[kPageHeader + 255 + kChannelsAt + 1];
  const ssize_t got = pread(fd, page, sizeof page, 0);
  close(fd);
  if (got < static_cast<ssize_t>(kPageHeader) || memcmp(page, "OggS", 4) != 0) {
    return OggStream::NotOgg;
  }
  const size_t packet = kPageHeader + page[kSegmentCountAt];
  if (static_cast<size_t>(got) < packet + kSignatureSize) return OggStream::NotOgg;
  if (memcmp(page + packet, kVorbisSignature, kSignatureSize) != 0) return OggStream::Other;
  if (static_cast<size_t>(got) <= packet + kChannelsAt) return OggStream::Vorbis;
  return page[packet + kChannelsAt] > 2 ? OggStream::VorbisSurround : OggStream::Vorbis;
}
