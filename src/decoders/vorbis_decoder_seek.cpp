#include "decoders/vorbis_decoder.h"
#include "logging/logger.h"

int VorbisDecoder::seek_to_sample(uint64_t sample) {
  if (!info) return -1;
  past_end = false;
  landing.start(0, info->channels);
  const ogg_int64_t total = ov_pcm_total(&vorbis_file, -1);
  if (total >= 0 && sample >= static_cast<uint64_t>(total)) {
    past_end = true;
    return 0;
  }
  if (ov_pcm_seek(&vorbis_file, static_cast<ogg_int64_t>(sample)) == 0) return 0;

  // A stream vorbisfile cannot seek in by sample is decoded from where it stands, if that is
  // not beyond the target (right after read_tags, that is the start), else from the start.
  ogg_int64_t at = ov_pcm_tell(&vorbis_file);
  if ((at < 0 || static_cast<uint64_t>(at) > sample) && ov_seekable(&vorbis_file) &&
      ov_raw_seek(&vorbis_file, 0) == 0) {
    at = ov_pcm_tell(&vorbis_file);
  }
  Logging::Logger(Logging::DEBUG) << "Ogg Vorbis decoder: Cannot seek to sample " << sample
                                  << "; decoding from sample " << at << ".";
  if (at < 0 || static_cast<uint64_t>(at) > sample) {
    Logging::Logger(Logging::ERROR) << "Ogg Vorbis decoder: Cannot seek back.";
    return -1;
  }
  landing.start(sample - static_cast<uint64_t>(at), info->channels);
  const int status = decode_until_landed(landing, [this](Encoder* e) { return decode_chunk(e); });
  if (status == 1) past_end = true;
  return status < 0 ? -1 : 0;
}
