#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "decoders/decoder.h"
#include "sheets/image_sheet.h"
#include "sheets/track_source.h"

// One track of an image, decoded by the image's own decoder: the sheet's tags in place of
// the image's title and numbering, and exactly the track's samples.
class TrackDecoder final : public Decoder {
 public:
  TrackDecoder(TrackSource track, std::unique_ptr<Decoder> image_decoder);

  // Finds the track in the image's sheet again (its path argument is the image's); fails
  // when the sheet no longer gives the image that track.
  int open_source(const char* path) override;
  int64_t source_mtime() override;
  int read_tags(Encoder* encoder) override;
  int decode_chunk(Encoder* encoder) override;
  void measure_only() override { image->measure_only(); }
  int seek_to_sample(uint64_t sample) override;

 private:
  int start_at(uint64_t image_sample);
  const TrackRange* place(uint64_t total_samples, unsigned sample_rate);

  TrackSource track;
  std::unique_ptr<Decoder> image;
  SheetFound located;
  TrackRange range;
  size_t track_total = 0;
  int channels = 0;
  uint64_t position = 0;  // image sample the next decoded sample is
  uint64_t skip = 0;      // samples still to drop before the wanted one
  bool started = false;
};

// The decoder for a source: a TrackDecoder over the image's decoder for a track source,
// make_source_decoder's otherwise. extension is the file's, lower-cased in place.
std::unique_ptr<Decoder> make_decoder_for_source(const std::string& source, std::string& extension);

// decoder (made for source) opened on path, the source's file or another name for it: a
// track's decoder as it is, any other through open_source_decoder's content probe.
std::unique_ptr<Decoder> open_decoder_for_source(std::unique_ptr<Decoder> decoder,
                                                 const std::string& source,
                                                 const std::string& path);
