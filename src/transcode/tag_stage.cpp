#include "transcode/tag_stage.h"

#include <algorithm>
#include <cstdint>

#include "app/settings.h"
#include "decoders/decoder.h"
#include "encoders/encoder.h"
#include "logging/logger.h"
#include "transcode/folder_cover.h"
#include "transcode/read_tags_with_covers.h"
#include "transcode/stats_cache.h"

bool fix_tags_and_size(Decoder& decoder, Encoder& encoder, const std::string& source_path,
                       int64_t& inputs_mtime, uint64_t remembered_size) {
  if (read_tags_with_covers(decoder, encoder, source_path) == -1) {
    Logging::Logger(Logging::ERROR) << "Error processing metadata.";
    return false;
  }
  Logging::Logger(Logging::DEBUG) << "Metadata processing finished.";

  // A folder cover is an input too: a size remembered before it changed no longer holds.
  inputs_mtime = decoder.source_mtime();
  if (parse_cover_mode(settings.covers) == CoverMode::Folder) {
    inputs_mtime = std::max(inputs_mtime, folder_cover_time(source_path));
  }
  uint64_t known_size = 0;
  if (!stats_cache.get_size(source_path, inputs_mtime, known_size)) known_size = remembered_size;

  if (encoder.emit_tags(known_size) == -1) {
    Logging::Logger(Logging::ERROR) << "Error rendering tag in Encoder.";
    return false;
  }
  return true;
}
