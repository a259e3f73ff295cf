#include "transcode_fuzz.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings.h"
#include "transcode/transcoder.h"

namespace {

// A file in memory-backed /dev/shm: the decoders open sources by path.
std::string scratch_path(const char* extension) {
  return "/dev/shm/olvex-fuzz-" + std::to_string(getpid()) + "." + extension;
}

bool write_source(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size;
}

void read_output(Transcoder& transcoder) {
  std::vector<char> chunk(64 * 1024);
  const uint64_t total = transcoder.output().total_size();
  // The tail first (served without decoding), then a read across the middle.
  const uint64_t probes[] = {total >= 128 ? total - 128 : 0, total / 2, total, total + 4096};
  for (uint64_t offset : probes) {
    transcoder.read(chunk.data(), static_cast<int64_t>(offset), 4096);
  }
  // Far enough to decode any small input; beyond that a claimed length is only padding.
  constexpr uint64_t kReadLimit = 16 << 20;
  for (uint64_t offset = 0; offset < kReadLimit;) {
    const int64_t n = transcoder.read(chunk.data(), static_cast<int64_t>(offset), chunk.size());
    if (n <= 0) break;
    offset += static_cast<uint64_t>(n);
  }
}

}  // namespace

int fuzz_transcode(const uint8_t* data, size_t size, const char* extension) {
  static const std::string path = scratch_path(extension);
  static const bool cleanup = atexit([] { unlink(path.c_str()); }) == 0;
  (void)cleanup;
  if (!write_source(path, data, size)) return 0;
  // The input length picks CBR or VBR, so both finishing paths are reached.
  settings.vbr = size & 1;
  Transcoder transcoder(path);
  if (transcoder.initialize()) read_output(transcoder);
  return 0;
}
