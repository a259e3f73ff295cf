#include "transcode/transcoder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <limits>

#include "app/settings.h"
#include "cache/remembered_size.h"
#include "logging/logger.h"
#include "pool/encode_pool.h"
#include "sheets/track_decoder.h"
#include "sheets/track_source.h"
#include "transcode/output_key.h"
#include "transcode/segmented_output.h"
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

Transcoder::~Transcoder() {
  if (segments) segments->abandon();
}

std::unique_ptr<Decoder> Transcoder::create_decoder(std::string& extension) {
  return make_decoder_for_source(source_path, extension);
}

std::unique_ptr<Encoder> Transcoder::create_encoder(Buffer* target) {
  return make_encoder(settings.desttype, target);
}

std::function<std::unique_ptr<Decoder>(const std::string&)> Transcoder::decoder_factory() {
  return [source = source_path](const std::string& path) -> std::unique_ptr<Decoder> {
    const std::string file = source_file(source);
    const auto dot = file.rfind('.');
    if (dot == std::string::npos) return nullptr;
    std::string extension = file.substr(dot + 1);
    return open_decoder_for_source(make_decoder_for_source(source, extension), source, path);
  };
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
  decoder = open_decoder_for_source(std::move(decoder), source_path, file);
  if (!decoder) return fail_with_eio();
  Logging::Logger(Logging::DEBUG) << "Decoder initialized successfully.";

  encoder = create_encoder(&buffer);
  if (!encoder) return fail_with_eio();

  if (!fix_tags_and_size(*decoder, *encoder, source_path, inputs_mtime, remembered_size())) {
    return fail_with_eio();
  }
  Logging::Logger(Logging::DEBUG) << "Tag written to Buffer.";
  if (settings.segments) try_segmenting();
  if (!segments) buffer.reserve_head(buffer.tail_offset());
  return true;
}

void Transcoder::try_segmenting() {
  SegmentLayout layout;
  if (!source_identity || !encoder->segment_layout(layout)) return;
  layout.audio_start = buffer.head_size();
  // A size remembered from another encoding than this layout's is not split.
  if (layout.audio_end() != buffer.tail_offset()) return;
  std::vector<uint8_t> head(layout.audio_start);
  std::vector<uint8_t> tail(buffer.total_size() - buffer.tail_offset());
  buffer.copy_into(head.data(), 0, head.size());
  buffer.copy_into(tail.data(), static_cast<int64_t>(buffer.tail_offset()), tail.size());
  UniqueFd file(open(source_file(source_path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!file || fstat(file.get(), &st) != 0 || !(SourceIdentity::of(st) == *source_identity)) return;
  SegmentSource source{source_path, std::move(file), *source_identity, decoder_factory()};
  auto finisher = [origin = origin()](uint64_t size,
                                      const std::function<bool(uint8_t*, uint64_t, size_t)>& fill) {
    remember_finished_size(origin, size);
    return store_finished_output(origin, size, fill);
  };
  segments = std::make_shared<SegmentedOutput>(layout, std::move(source), std::move(head),
                                               std::move(tail), std::move(finisher));
  decoder.reset();
  encoder.reset();
  buffer = Buffer();
  Logging::Logger(Logging::DEBUG) << "Audio in " << layout.count() << " segments.";
}

uint64_t Transcoder::size() const {
  return segments ? segments->size() : buffer.total_size();
}

OutputOrigin Transcoder::origin() const {
  return OutputOrigin{source_path, cache_key, source_identity, inputs_mtime};
}

int64_t Transcoder::read(char* destination, int64_t offset, uint64_t size) {
  Logging::Logger(Logging::DEBUG) << "Reading " << size << " bytes from offset " << offset << ".";
  if (segments) return segments->read(destination, offset, size);
  if (!encode_on_pool(offset, size)) return read_failed();

  std::lock_guard lock(mutex);
  if (stored) return read_stored(destination, offset, size);
  auto* out = reinterpret_cast<uint8_t*>(destination);
  if (static_cast<uint64_t>(offset) > buffer.total_size()) return 0;
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

// The encoding a read needs runs on the encode pool, so that no more encoders run at once
// than it has workers; the reader waits for it without holding the Transcoder's lock.
bool Transcoder::encode_on_pool(int64_t offset, uint64_t size) {
  {
    std::lock_guard lock(mutex);
    if (stored || !decoder || static_cast<uint64_t>(offset) > buffer.total_size()) return true;
    if (buffer.has_range(offset, size)) return true;
  }
  struct Outcome {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ok = false;
  };
  auto outcome = std::make_shared<Outcome>();
  auto job = [this, outcome, offset, size] {
    bool ok;
    {
      std::lock_guard lock(mutex);
      ok = encode_until(offset, size);
    }
    std::lock_guard lock(outcome->mutex);
    outcome->done = true;
    outcome->ok = ok;
    outcome->finished.notify_all();
  };
  if (!encode_pool().submit(this, ++jobs, EncodePool::Urgency::Waiting, std::move(job))) {
    std::lock_guard lock(mutex);  // the pool is stopping: the reader does the work
    return encode_until(offset, size);
  }
  std::unique_lock lock(outcome->mutex);
  outcome->finished.wait(lock, [&] { return outcome->done; });
  return outcome->ok;
}

bool Transcoder::encode_until(int64_t offset, uint64_t size) {
  if (!decoder || buffer.has_range(offset, size)) return true;
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
      if (!finish()) return false;
    } else if (status == -1) {
      return false;
    }
    if (!decoder) break;
  }
  return true;
}

bool Transcoder::finish() {
  decoder.reset();
  if (encoder) {
    if (encoder->flush_stream() == -1) return false;
    Logging::Logger(Logging::DEBUG)
        << "Finishing file. Predicted size: " << encoder->predicted_size()
        << ", final size: " << buffer.total_size();
    encoder.reset();
  }
  // Called with the Transcoder lock held: the cache lock always comes second.
  remember_finished_size(origin(), buffer.total_size());
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
  const uint64_t size = buffer.total_size();
  const auto fill = [this](uint8_t* destination, uint64_t offset, size_t n) {
    if (!buffer.has_range(static_cast<int64_t>(offset), n)) return false;
    buffer.copy_into(destination, static_cast<int64_t>(offset), n);
    return true;
  };
  stored = store_finished_output(origin(), size, fill);
  if (!stored) return;
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
