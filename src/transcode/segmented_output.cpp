#include "transcode/segmented_output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "app/settings.h"
#include "logging/logger.h"
#include "pool/encode_pool.h"

SegmentedOutput::SegmentedOutput(SegmentLayout layout, SegmentSource source,
                                 std::vector<uint8_t> head, std::vector<uint8_t> tail,
                                 Finisher finisher)
    : layout(layout),
      source(std::move(source)),
      head(std::move(head)),
      tail(std::move(tail)),
      total(layout.audio_end() + this->tail.size()),
      finisher(std::move(finisher)),
      states(static_cast<size_t>(layout.count()), State::Absent),
      segments(static_cast<size_t>(layout.count())),
      first_failed(INT_MAX) {}

SegmentedOutput::~SegmentedOutput() = default;

void SegmentedOutput::abandon() {
  encode_pool().drop_all(this);
}

void SegmentedOutput::request(int k, bool waiting) {
  State& state = states[static_cast<size_t>(k)];
  if (state != State::Absent && !(state == State::Queued && waiting)) return;
  state = State::Queued;
  // The job keeps the output alive until it has run or been dropped.
  auto job = [self = shared_from_this(), k] { self->make(k); };
  const auto urgency = waiting ? EncodePool::Urgency::Waiting : EncodePool::Urgency::Ahead;
  if (!encode_pool().submit(this, static_cast<uint64_t>(k), urgency, std::move(job))) {
    state = State::Failed;  // the pool is stopping: nothing will be made any more
    first_failed = std::min(first_failed, k);
  }
}

void SegmentedOutput::read_ahead_after(int k) {
  const uint64_t per_segment = static_cast<uint64_t>(SegmentLayout::kFrames) *
                               static_cast<uint64_t>(layout.samples_per_frame);
  const uint64_t wanted =
      static_cast<uint64_t>(settings.readahead) * static_cast<uint64_t>(layout.sample_rate);
  const int ahead = static_cast<int>((wanted + per_segment - 1) / per_segment);
  const int last = std::min(layout.count() - 1, k + ahead);
  for (int j = k + 1; j <= last; ++j) request(j, false);
}

void SegmentedOutput::make(int k) {
  {
    std::lock_guard lock(mutex);
    State& state = states[static_cast<size_t>(k)];
    if (state != State::Queued) return;  // a second job for a segment already taken
    state = State::Making;
  }
  std::vector<uint8_t> bytes;
  const bool ok = make_segment(source, layout, k, bytes);
  bool complete = false;
  {
    std::lock_guard lock(mutex);
    if (ok) {
      segments[static_cast<size_t>(k)] = std::move(bytes);
      states[static_cast<size_t>(k)] = State::Made;
      complete = ++made == layout.count();
      finishing = complete;
    } else {
      states[static_cast<size_t>(k)] = State::Failed;
      first_failed = std::min(first_failed, k);
    }
  }
  if (complete) finish();
  changed.notify_all();
}

void SegmentedOutput::finish() {
  const auto fill = [this](uint8_t* destination, uint64_t offset, size_t n) {
    std::lock_guard lock(mutex);
    return copy_range(destination, offset, n);
  };
  std::unique_ptr<Reader> copy = finisher ? finisher(total, fill) : nullptr;
  std::lock_guard lock(mutex);
  finishing = false;
  if (!copy) return;
  stored = std::move(copy);
  segments = {};  // served from the stored copy from now on
  Logging::Logger(Logging::DEBUG) << "Output stored in the cache directory.";
}

bool SegmentedOutput::copy_range(uint8_t* destination, uint64_t offset, size_t n) {
  const uint64_t end = offset + n;
  if (end > total) return false;
  const uint64_t audio_end = layout.audio_end();
  while (offset < end) {
    size_t count = 0;
    if (offset < layout.audio_start) {
      count = static_cast<size_t>(std::min(end, layout.audio_start) - offset);
      std::memcpy(destination, head.data() + offset, count);
    } else if (offset >= audio_end) {
      count = static_cast<size_t>(end - offset);
      std::memcpy(destination, tail.data() + (offset - audio_end), count);
    } else {
      const int k = layout.segment_at(offset);
      const auto& bytes = segments[static_cast<size_t>(k)];
      if (states[static_cast<size_t>(k)] != State::Made) return false;
      const uint64_t first = layout.segment_offset(k);
      count = static_cast<size_t>(std::min(end, layout.segment_end(k)) - offset);
      std::memcpy(destination, bytes.data() + (offset - first), count);
    }
    destination += count;
    offset += count;
  }
  return true;
}

int64_t SegmentedOutput::read(char* destination, int64_t offset, uint64_t size) {
  const uint64_t start = static_cast<uint64_t>(offset);
  if (start >= total || size == 0) return 0;
  const uint64_t n = std::min<uint64_t>(size, total - start);
  const uint64_t end = start + n;
  const uint64_t audio_end = layout.audio_end();

  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return !finishing; });
  if (!stored && end > layout.audio_start && start < audio_end) {
    const int first = layout.segment_at(std::max(start, layout.audio_start));
    const int last = layout.segment_at(std::min(end, audio_end) - 1);
    audio_reads_in_a_row = start == next_forward ? audio_reads_in_a_row + 1 : 1;
    for (int k = first; k <= last; ++k) request(k, true);
    // Two reads of audio in a row make a reader going forward: make what it reads next.
    if (audio_reads_in_a_row >= 2) read_ahead_after(last);
    changed.wait(lock, [&] {
      if (finishing) return false;
      if (stored || last >= first_failed) return true;
      for (int k = first; k <= last; ++k) {
        if (states[static_cast<size_t>(k)] != State::Made) return false;
      }
      return true;
    });
    if (!stored && last >= first_failed) {
      errno = EIO;
      return -1;
    }
  } else if (end <= layout.audio_start || start >= audio_end) {
    audio_reads_in_a_row = 0;
  }
  next_forward = end;
  if (stored) {
    const int64_t count = stored->read(destination, offset, n);
    if (count < 0) errno = EIO;
    return count;
  }
  if (!copy_range(reinterpret_cast<uint8_t*>(destination), start, static_cast<size_t>(n))) {
    errno = EIO;
    return -1;
  }
  return static_cast<int64_t>(n);
}
