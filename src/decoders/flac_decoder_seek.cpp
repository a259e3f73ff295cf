#include <cstdio>

#include "decoders/flac_decoder.h"
#include "logging/logger.h"

int FlacDecoder::seek_to_sample(uint64_t sample) {
  // While seeking, the frame holding the target goes to the landing, never to an encoder.
  encoder = &landing;
  past_end = false;
  // A measured read_tags read the metadata itself and left libFLAC at the start.
  if (get_state() == FLAC__STREAM_DECODER_SEARCH_FOR_METADATA) {
    if (source) std::rewind(source);
    if (!process_until_end_of_metadata() || !has_info) {
      Logging::Logger(Logging::ERROR) << "FLAC is invalid.";
      return -1;
    }
  }
  const uint64_t total = info.get_total_samples();
  landing.start(0, static_cast<int>(info.get_channels()));
  if (total > 0 && sample >= total) {
    past_end = true;
    return 0;
  }
  decoded_samples = sample;
  if (seek_absolute(sample) && landing.holding()) return 0;
  return seek_by_decoding(sample);
}

// For a stream libFLAC cannot seek in (no length, damaged frames): the same samples, slower.
int FlacDecoder::seek_by_decoding(uint64_t sample) {
  Logging::Logger(Logging::DEBUG) << "FLAC cannot seek to sample " << sample
                                  << "; decoding from the start.";
  landing.start(sample, static_cast<int>(info.get_channels()));
  decoded_samples = 0;
  if (!reset() || !process_until_end_of_metadata()) {
    Logging::Logger(Logging::ERROR) << "FLAC cannot return to the start.";
    return -1;
  }
  const int status = decode_until_landed(landing, [this](Encoder* e) { return decode_chunk(e); });
  if (status == 1) past_end = true;
  return status < 0 ? -1 : 0;
}
