#include "transcode/tag_stage.h"

#include <cstdint>

#include "decoders/decoder.h"
#include "encoders/encoder.h"
#include "logging/logger.h"
#include "transcode/stats_cache.h"

bool fix_tags_and_size(Decoder& decoder, Encoder& encoder, const std::string& source_path) {
  if (decoder.read_tags(&encoder) == -1) {
    Logging::Logger(Logging::ERROR) << "Error processing metadata.";
    return false;
  }
  Logging::Logger(Logging::DEBUG) << "Metadata processing finished.";

  uint64_t known_size = 0;
  stats_cache.get_size(source_path, decoder.source_mtime(), known_size);

  if (encoder.emit_tags(known_size) == -1) {
    Logging::Logger(Logging::ERROR) << "Error rendering tag in Encoder.";
    return false;
  }
  return true;
}
