#include "decoders/vorbis_decoder.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "decoders/picture_block.h"
#include "decoders/vorbis_comments.h"
#include "encoders/encoder.h"
#include "logging/logger.h"

namespace {

constexpr int kPcmBytes = 4096;

void log_error(const char* message) {
  Logging::Logger(Logging::ERROR) << "Ogg Vorbis decoder: " << message;
}

}  // namespace

// A zeroed OggVorbis_File is the cleared state that ov_clear accepts.
VorbisDecoder::VorbisDecoder() {
  memset(&vorbis_file, 0, sizeof vorbis_file);
}

VorbisDecoder::~VorbisDecoder() {
  ov_clear(&vorbis_file);
  Logging::Logger(Logging::DEBUG) << "Ogg Vorbis decoder: Closed.";
}

int VorbisDecoder::open_source(const char* path) {
  Logging::Logger(Logging::DEBUG) << "Ogg Vorbis decoder: Initializing.";
  FILE* file = fopen(path, "r");
  if (!file) {
    log_error("fopen failed.");
    return -1;
  }
  struct stat st;
  if (fstat(fileno(file), &st) < 0) {
    log_error("fstat failed.");
    fclose(file);
    return -1;
  }
  mtime = st.st_mtime;
  // On failure ov_open leaves the stream to us and vorbis_file cleared.
  if (ov_open(file, &vorbis_file, nullptr, 0) < 0) {
    log_error("Initialization failed.");
    fclose(file);
    return -1;
  }
  return 0;
}

int VorbisDecoder::read_tags(Encoder* encoder) {
  info = ov_info(&vorbis_file, -1);
  if (!info) {
    log_error("Failed to retrieve the file info.");
    return -1;
  }
  if (info->channels >= 3) {
    log_error("Only mono/stereo audio currently supported.");
    return -1;
  }
  // A length libvorbisfile cannot tell is passed as unknown, not as a huge count.
  ogg_int64_t total = ov_pcm_total(&vorbis_file, -1);
  if (encoder->begin_stream(total < 0 ? 0 : static_cast<uint64_t>(total),
                            static_cast<int>(info->rate), info->channels) == -1) {
    log_error("Failed to set encoder stream parameters.");
    return -1;
  }
  vorbis_comment* comments = ov_comment(&vorbis_file, -1);
  if (!comments) {
    log_error("Failed to retrieve the Ogg Vorbis comment.");
    return -1;
  }

  CommentScan scan(encoder);
  for (int i = 0; i < comments->comments; ++i) {
    if (!comments->user_comments[i] || comments->comment_lengths[i] < 0) continue;
    auto comment =
        split_comment(std::string_view(comments->user_comments[i], comments->comment_lengths[i]));
    if (!comment || scan.take(*comment)) continue;
    if (comment->name == "METADATA_BLOCK_PICTURE") add_embedded_picture(comment->value, encoder);
  }
  scan.finish();
  return 0;
}

int VorbisDecoder::decode_chunk(Encoder* encoder) {
  if (landing.holding()) {
    if (landing.release(encoder) == 0) return 0;
    log_error("Failed to encode integer buffer.");
    return -1;
  }
  if (past_end) return 1;
  char area[kPcmBytes] = {};
  long n = ov_read(&vorbis_file, area, kPcmBytes, 0, 2, 1, &section);
  if (n < 2) {
    if (n >= -1) {
      Logging::Logger(Logging::DEBUG) << "Ogg Vorbis decoder: Reached end of file.";
      return 1;
    }
    log_error("Failed to read file.");
    return -1;
  }
  const int channels = info ? info->channels : 0;
  const int frames = channels > 0 ? static_cast<int>(n / 2) / channels : 0;
  if (frames <= 0) {
    log_error("Not enough samples per channel.");
    return -1;
  }

  std::vector<std::vector<int32_t>> split(channels, std::vector<int32_t>(frames));
  std::vector<const int32_t*> pointers(channels);
  for (int c = 0; c < channels; ++c) {
    for (int j = 0; j < frames; ++j) {
      const size_t at = 2 * (static_cast<size_t>(c) + static_cast<size_t>(j) * channels);
      const auto low = static_cast<unsigned char>(area[at]);
      const auto high = static_cast<unsigned char>(area[at + 1]);
      split[c][j] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
    }
    pointers[c] = split[c].data();
  }
  if (encoder->encode_samples(pointers.data(), frames, 16) < 0) {
    log_error("Failed to encode integer buffer.");
    return -1;
  }
  return 0;
}
