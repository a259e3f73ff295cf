#include "transcode/transcoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "app/settings.h"
#include "cache/disk_cache.h"
#include "cache/remembered_size.h"
#include "fs/file_reader.h"
#include "logging/logger.h"
#include "sheets/track_decoder.h"
#include "transcode/output_key.h"
#include "transcode/stats_cache.h"
#include "transcode/tag_stage.h"

namespace {

bool fail_with_eio() {
  errno = EIO;
  return false;
}

int64_t read_failed() {
  errno = EIO;
  return -1;
}

}  // namespace

Transcoder::Transcoder(const std::string& source_path) : source_path(source_path) {
  Logging::Logger(Logging::DEBUG) << "Creating transcoder object for " << source_path;
}

std::unique_ptr<Decoder> Transcoder::create_decoder(std::string& extension) {
  return make_decoder_for_source(source_path, extension);
}

std::unique_ptr<Encoder> Transcoder::create_encoder(Buffer* target) {
  return make_encoder(settings.desttype, target);
}

bool Transcoder::initialize() {
  // Taken before the source is read, so a change made while it is read shows as a new identity.
  struct stat st;
  const std::string file = source_file(source_path);
  if (lstat(file.c_str(), &st) == 0) source_identity = SourceIdentity::of(st);
  cache_key = output_key(source_path);
  const auto dot = file.rfind('.');
  if (dot != std::string::npos) {
    std::string extension = file.substr(dot + 1);
    decoder = create_decoder(extension);
  }
  if (!decoder) return fail_with_eio();

  Logging::Logger(Logging::DEBUG) << "Ready to initialize decoder.";
  if (decoder->open_source(file.c_str()) == -1) return fail_with_eio();
  Logging::Logger(Logging::DEBUG) << "Decoder initialized successfully.";

  encoder = create_encoder(&buffer);
  if (!encoder) return fail_with_eio();

  if (!fix_tags_and_size(*decoder, *encoder, source_path, inputs_mtime, remembered_size())) {
    return fail_with_eio();
  }
  Logging::Logger(Logging::DEBUG) << "Tag written to Buffer.";
  buffer.reserve_head(buffer.tail_offset());
  return true;
}

int64_t Transcoder::read(char* destination, int64_t offset, uint64_t size) {
  std::lock_guard lock(mutex);
  Logging::Logger(Logging::DEBUG) << "Reading " << size << " bytes from offset " << offset << ".";

  if (stored) return read_stored(destination, offset, size);
  auto* out = reinterpret_cast<uint8_t*>(destination);
  if (static_cast<uint64_t>(offset) > buffer.total_size()) return 0;
  if (buffer.has_range(offset, size)) {
    buffer.copy_into(out, offset, size);
    return static_cast<int64_t>(size);
  }

  if (decoder) {
    // Saturate: a huge size must not wrap the target below the offset.
    const uint64_t start = static_cast<uint64_t>(offset);
    const uint64_t target = size > std::numeric_limits<uint64_t>::max() - start
                                ? std::numeric_limits<uint64_t>::max()
                                : start + size;
    while (encoder) {
      const uint64_t limit =
          encoder->wants_whole_file() ? std::numeric_limits<uint64_t>::max() : target;
      if (buffer.head_size() >= limit) break;
      const int status = decoder->decode_chunk(encoder.get());
      if (status == 1) {
        if (!finish()) return read_failed();
      } else if (status == -1) {
        return read_failed();
      }
      if (!decoder) break;
    }
  }

  if (stored) return read_stored(destination, offset, size);  // finishing put it on disk
  const uint64_t available = buffer.available_from(offset);
  const uint64_t n = available < size ? available : size;
  // Nothing to serve before the end of the file means the output can no longer be
  // produced (its finishing failed): that is an error, not the end of the file.
  if (n == 0 && size != 0 && static_cast<uint64_t>(offset) < buffer.total_size()) {
    return read_failed();
  }
  if (n != 0) buffer.copy_into(out, offset, n);
  Logging::Logger(Logging::DEBUG) << "Successfully read " << n << " bytes.";
  return static_cast<int64_t>(n);
}

bool Transcoder::finish() {
  int64_t mtime = 0;
  if (decoder) {
    mtime = inputs_mtime;
    decoder.reset();
  }
  if (encoder) {
    if (encoder->flush_stream() == -1) return false;
    Logging::Logger(Logging::DEBUG)
        << "Finishing file. Predicted size: " << encoder->predicted_size()
        << ", final size: " << buffer.total_size();
    encoder.reset();
  }
  // Called with the Transcoder lock held: the cache lock always comes second.
  if (settings.statcachesize != 0 && buffer.total_size() != 0) {
    stats_cache.put_size(source_path, buffer.total_size(), mtime);
  }
  // A later stat reports what this file turned out to be, as the stats cache makes it do.
  if (source_identity && buffer.total_size() != 0) {
    remember_size(cache_key, *source_identity, buffer.total_size());
  }
  keep_on_disk();
  return true;
}

// The size a stat reports for this source now, when one is remembered beyond the stats
// cache: the tail must sit where that size puts it, or a read of the ID3v1 tag at the
// reported end would find the gap.
uint64_t Transcoder::remembered_size() const {
  uint64_t size = 0;
  if (source_identity && find_remembered_size(cache_key, *source_identity, size)) return size;
  return 0;
}

// Once the whole output is stored in the cache directory, later reads come from there and
// the memory copy goes. Any failure to store it (logged by the store) keeps the memory copy.
void Transcoder::keep_on_disk() {
  DiskCache* disk = disk_cache();
  const uint64_t size = buffer.total_size();
  if (!disk || !source_identity || size == 0) return;
  const auto fill = [this](uint8_t* destination, uint64_t offset, size_t n) {
    if (!buffer.has_range(static_cast<int64_t>(offset), n)) return false;
    buffer.copy_into(destination, static_cast<int64_t>(offset), n);
    return true;
  };
  UniqueFd fd = disk->outputs->store(cache_key, *source_identity, disk->fingerprint, size, fill);
  if (!fd) return;
  stored = std::make_unique<FileReader>(fd.release());
  stored_size = size;
  buffer = Buffer();
  Logging::Logger(Logging::DEBUG) << "Output stored in the cache directory.";
}

int64_t Transcoder::read_stored(char* destination, int64_t offset, uint64_t size) {
  if (static_cast<uint64_t>(offset) >= stored_size) return 0;
  const uint64_t n = std::min<uint64_t>(size, stored_size - static_cast<uint64_t>(offset));
  const int64_t count = stored->read(destination, offset, n);
  if (count < 0) errno = EIO;
  return count;
}
