#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "encoders/segment_layout.h"
#include "fs/reader.h"
#include "transcode/segment_maker.h"

// The output file of a segmented CBR stream: its head (tags and anything before the audio)
// and tail are fixed at open, and its audio is a row of segments made on the encode pool as
// reads need them, or ahead of a reader going forward. Readers wait only for the segments
// their range covers; what is made stays until the output goes (or is stored on disk).
class SegmentedOutput : public std::enable_shared_from_this<SegmentedOutput> {
 public:
  // Called once every segment is made, with the file's size and a way to copy any range of
  // it; returns the stored copy to serve from then on (or none, to keep serving memory).
  using Finisher = std::function<std::unique_ptr<Reader>(
      uint64_t size, const std::function<bool(uint8_t*, uint64_t, size_t)>& fill)>;

  SegmentedOutput(SegmentLayout layout, SegmentSource source, std::vector<uint8_t> head,
                  std::vector<uint8_t> tail, Finisher finisher);
  ~SegmentedOutput();

  // As Reader::read: a count, 0 past the end, or -1 with errno EIO when a segment the range
  // needs cannot be made.
  int64_t read(char* destination, int64_t offset, uint64_t size);
  // The last reader has gone: work queued for this output is dropped; what runs ends.
  void abandon();

  uint64_t size() const { return total; }

 private:
  enum class State { Absent, Queued, Making, Made, Failed };

  void request(int k, bool waiting);  // under the lock
  void make(int k);                   // on a pool worker, without the lock
  bool copy_range(uint8_t* destination, uint64_t offset, size_t n);  // under the lock
  void finish();                 // all made; on the worker that made the last
  void read_ahead_after(int k);  // under the lock

  const SegmentLayout layout;
  const SegmentSource source;
  const std::vector<uint8_t> head;
  const std::vector<uint8_t> tail;
  const uint64_t total;
  const Finisher finisher;

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<State> states;
  std::vector<std::vector<uint8_t>> segments;
  int made = 0;
  // The last segment is made and the output is being stored: readers wait for the store, so
  // that one who has read everything finds it done.
  bool finishing = false;
  int first_failed;              // reads of this segment or a later one fail
  uint64_t next_forward = 0;     // where a read that continues the last one begins
  int audio_reads_in_a_row = 0;  // reads of audio, each continuing the one before
  std::unique_ptr<Reader> stored;
};
