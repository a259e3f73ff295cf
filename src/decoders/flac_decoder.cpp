#include "decoders/flac_decoder.h"

#include <sys/stat.h>

#include <cstdio>
#include <string_view>

#include "decoders/flac_header.h"
#include "decoders/flac_metadata_scan.h"
#include "decoders/vorbis_comments.h"
#include "encoders/encoder.h"
#include "logging/logger.h"

int FlacDecoder::open_source(const char* path) {
  set_metadata_respond(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  set_metadata_respond(FLAC__METADATA_TYPE_PICTURE);
  Logging::Logger(Logging::DEBUG) << "FLAC ready to initialize.";

  FILE* file = fopen(path, "r");
  if (!file) {
    Logging::Logger(Logging::ERROR) << "FLAC fopen failed.";
    return -1;
  }
  struct stat st;
  if (fstat(fileno(file), &st) != 0) {
    Logging::Logger(Logging::ERROR) << "FLAC stat failed.";
    fclose(file);
    return -1;
  }
  mtime = st.st_mtime;
  // libFLAC would only find out when the metadata is read; a file of another kind must fail
  // here, where its content can still be probed.
  if (flac_channels(fileno(file)) < 0) {
    Logging::Logger(Logging::INFO) << "FLAC: not a FLAC stream.";
    fclose(file);
    return -1;
  }

  if (init(file) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    Logging::Logger(Logging::ERROR) << "FLAC init failed.";
    // libFLAC keeps the FILE only when init got as far as leaving the
    // uninitialised state; then finish() closes it, otherwise it is still ours.
    if (get_state() == FLAC__STREAM_DECODER_UNINITIALIZED) {
      fclose(file);
    } else {
      finish();
    }
    return -1;
  }
  Logging::Logger(Logging::DEBUG) << "FLAC initialized successfully.";
  source = file;
  return 0;
}

int FlacDecoder::read_tags(Encoder* target) {
  encoder = target;
  // The scan leaves the FILE where libFLAC, which has read nothing yet, expects it.
  if (measuring && source) {
    const ScanResult scanned = scan_flac_metadata(source, *target);
    if (scanned != ScanResult::NotHandled) return scanned == ScanResult::Done ? 0 : -1;
  }
  if (!process_until_end_of_metadata() || !has_info) {
    Logging::Logger(Logging::ERROR) << "FLAC is invalid.";
    return -1;
  }
  return encoder->begin_stream(info.get_total_samples(), static_cast<int>(info.get_sample_rate()),
                               static_cast<int>(info.get_channels())) == -1
             ? -1
             : 0;
}

int FlacDecoder::decode_chunk(Encoder* target) {
  encoder = target;
  if (landing.holding()) {
    if (landing.release(target) == 0) return 0;
    Logging::Logger(Logging::ERROR) << "FLAC encoding failed.";
    return -1;
  }
  if (past_end) return 1;
  // Past READ_FRAME come end of stream, the error states and uninitialised.
  if (get_state() > FLAC__STREAM_DECODER_READ_FRAME) return 1;
  if (process_single()) {
    if (get_state() != FLAC__STREAM_DECODER_END_OF_STREAM) return 0;
    // A source cut short (truncated while we read it) must not pass for the whole stream.
    const uint64_t expected = has_info ? info.get_total_samples() : 0;
    if (expected == 0 || decoded_samples >= expected) return 0;
    Logging::Logger(Logging::ERROR) << "FLAC stream ended early.";
    return -1;
  }
  Logging::Logger(Logging::ERROR) << "Error reading FLAC.";
  return -1;
}

::FLAC__StreamDecoderWriteStatus FlacDecoder::write_callback(const ::FLAC__Frame* frame,
                                                             const FLAC__int32* const buffer[]) {
  if (!encoder || encoder->encode_samples(buffer, static_cast<int>(frame->header.blocksize),
                                          static_cast<int>(frame->header.bits_per_sample)) == -1) {
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  decoded_samples += frame->header.blocksize;
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacDecoder::metadata_callback(const ::FLAC__StreamMetadata* metadata) {
  if (!encoder && metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
  switch (metadata->type) {
    case FLAC__METADATA_TYPE_STREAMINFO:
      Logging::Logger(Logging::DEBUG) << "FLAC processing STREAMINFO";
      info = metadata;
      has_info = true;
      break;
    case FLAC__METADATA_TYPE_VORBIS_COMMENT:
      Logging::Logger(Logging::DEBUG) << "FLAC processing VORBIS_COMMENT";
      scan_comments(metadata->data.vorbis_comment);
      break;
    case FLAC__METADATA_TYPE_PICTURE: {
      Logging::Logger(Logging::DEBUG) << "FLAC processing PICTURE";
      const ::FLAC__StreamMetadata_Picture& picture = metadata->data.picture;
      encoder->add_picture(picture.mime_type, static_cast<int>(picture.type),
                           reinterpret_cast<const char*>(picture.description), picture.data,
                           static_cast<int>(picture.data_length));
      break;
    }
    default:
      break;
  }
}

void FlacDecoder::scan_comments(const ::FLAC__StreamMetadata_VorbisComment& block) {
  CommentScan scan(encoder);
  for (FLAC__uint32 i = 0; i < block.num_comments; ++i) {
    const ::FLAC__StreamMetadata_VorbisComment_Entry& entry = block.comments[i];
    if (!entry.entry) continue;
    // Split from the stored bytes: an entry without "=" has no value to hand on.
    auto comment =
        split_comment(std::string_view(reinterpret_cast<const char*>(entry.entry), entry.length));
    if (comment) scan.take(*comment);
  }
  scan.finish();
}

void FlacDecoder::error_callback(::FLAC__StreamDecoderErrorStatus status) {
  Logging::Logger(Logging::ERROR) << "FLAC error: " << FLAC__StreamDecoderErrorStatusString[status];
}
