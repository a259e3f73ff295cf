#include "transcode/segment_maker.h"

#include <sys/stat.h>

#include "encoders/segment_encoder.h"
#include "logging/logger.h"

namespace {

// A decoder open on the source and ready to deliver from `start`: seeking where it can,
// else decoding from the beginning into the encoder, which drops what precedes `start`.
std::unique_ptr<Decoder> start_decoder(const SegmentSource& source, SegmentEncoder& encoder,
                                       uint64_t start) {
  for (const bool seek : {true, false}) {
    std::unique_ptr<Decoder> decoder = source.open_decoder(source.open_path());
    if (!decoder) return nullptr;
    if (decoder->read_tags(&encoder) == -1) return nullptr;
    if (start == 0) return decoder;
    if (seek && decoder->seek_to_sample(start) == 0) return decoder;
    if (!seek) {
      Logging::Logger(Logging::DEBUG) << "Decoding from the start to reach sample " << start << ".";
      encoder.skip_samples(start);
      return decoder;
    }
  }
  return nullptr;
}

// Read through the descriptor taken at open, the source may since be renamed or removed; only
// a rewrite in place changes what it reads.
bool unchanged(const SegmentSource& source) {
  struct stat st;
  return fstat(source.file.get(), &st) == 0 && SourceIdentity::of(st).same_content(source.identity);
}

}  // namespace

bool make_segment(const SegmentSource& source, const SegmentLayout& layout, int k,
                  std::vector<uint8_t>& bytes) {
  Logging::Logger(Logging::DEBUG) << "Making segment " << k << " of " << source.path << ".";
  SegmentEncoder encoder(layout, k);
  std::unique_ptr<Decoder> decoder = start_decoder(source, encoder, layout.start_sample(k));
  if (!decoder) {
    Logging::Logger(Logging::ERROR) << "Segment " << k << " of " << source.path
                                    << ": the source could not be opened at its start.";
    return false;
  }
  int status = 0;
  while (!encoder.complete() && status == 0) status = decoder->decode_chunk(&encoder);
  if (status == 1 && !encoder.complete() && encoder.flush_stream() == -1) status = -1;
  decoder.reset();
  if (status == -1 || !encoder.complete()) {
    Logging::Logger(Logging::ERROR)
        << "Segment " << k << " of " << source.path << " could not be made.";
    return false;
  }
  // Checked after decoding: a segment made while the file changed is from neither version.
  if (!unchanged(source)) {
    Logging::Logger(Logging::ERROR) << source.path << " changed while it was open.";
    return false;
  }
  bytes = std::move(encoder.bytes());
  const uint64_t expected = layout.segment_end(k) - layout.segment_offset(k);
  const bool last = k + 1 >= layout.count();
  if (bytes.size() != expected) {
    // The last segment ends where the announced size says, as a continuous encoding would.
    if (!last) {
      Logging::Logger(Logging::ERROR) << "Segment " << k << " of " << source.path << " has "
                                      << bytes.size() << " bytes, not " << expected << ".";
      return false;
    }
    bytes.resize(expected, 0);
  }
  return true;
}
