#include <fcntl.h>
#include <unistd.h>

#include <cctype>

#include "decoders/decoder.h"
#include "decoders/ffmpeg_decoder.h"
#include "decoders/flac_decoder.h"
#include "decoders/flac_header.h"
#include "decoders/ogg_stream.h"
#include "decoders/vorbis_decoder.h"

namespace {

enum class Kind { Vorbis, Flac, Ffmpeg };

struct Format {
  const char* extension;
  Kind kind;
  const char* demuxers;  // FFmpeg's names of the containers the file may hold, tried in order
};

// Every extension with a decoder, in the order that picks one source when several would show
// under the same name: lossless before lossy, the more common before the rarer.
constexpr Format kFormats[] = {
    {"flac", Kind::Flac, ""},           {"wv", Kind::Ffmpeg, "wv"},
    {"ape", Kind::Ffmpeg, "ape"},       {"tak", Kind::Ffmpeg, "tak"},
    {"tta", Kind::Ffmpeg, "tta"},       {"wav", Kind::Ffmpeg, "wav"},
    {"aiff", Kind::Ffmpeg, "aiff"},     {"aif", Kind::Ffmpeg, "aiff"},
    {"shn", Kind::Ffmpeg, "shn"},       {"dsf", Kind::Ffmpeg, "dsf"},
    {"dff", Kind::Ffmpeg, "iff"},       {"m4a", Kind::Ffmpeg, "mp4"},
    {"ogg", Kind::Vorbis, ""},          {"oga", Kind::Vorbis, ""},
    {"opus", Kind::Ffmpeg, "ogg"},      {"mpc", Kind::Ffmpeg, "mpc8,mpc"},
    {"wma", Kind::Ffmpeg, "asf"},       {"mka", Kind::Ffmpeg, "matroska"},
    {"webm", Kind::Ffmpeg, "matroska"}, {"aac", Kind::Ffmpeg, "aac"},
    {"ac3", Kind::Ffmpeg, "ac3"},       {"dts", Kind::Ffmpeg, "dts"},
};

int flac_channels_of(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const int channels = flac_channels(fd);
  close(fd);
  return channels;
}

// The one place that says which extension goes to which decoder; lower-cases extension.
const Format* format_of(std::string& extension) {
  for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const Format& format : kFormats) {
    if (extension == format.extension) return &format;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<Decoder> make_decoder(std::string& extension) {
  const Format* format = format_of(extension);
  if (!format) return nullptr;
  switch (format->kind) {
    case Kind::Vorbis:
      return std::make_unique<VorbisDecoder>();
    case Kind::Flac:
      return std::make_unique<FlacDecoder>();
    case Kind::Ffmpeg:
      return std::make_unique<FfmpegDecoder>(format->demuxers);
  }
  return nullptr;
}

bool has_decoder(std::string extension) {
  return format_of(extension) != nullptr;
}

int source_rank(std::string extension) {
  const Format* format = format_of(extension);
  return format ? static_cast<int>(format - kFormats) : -1;
}

std::unique_ptr<Decoder> make_source_decoder(const std::string& path, std::string& extension) {
  std::unique_ptr<Decoder> decoder = make_decoder(extension);
  if (extension == "ogg" || extension == "oga") {
    // Ogg FLAC, Opus and Vorbis of more than two channels go to FFmpeg, which mixes
    // surround down; libvorbisfile keeps plain Vorbis.
    const OggStream stream = first_ogg_stream(path);
    if (stream == OggStream::NotOgg) return std::make_unique<FfmpegDecoder>("");
    if (stream == OggStream::Other || stream == OggStream::VorbisSurround) {
      return std::make_unique<FfmpegDecoder>("ogg");
    }
  } else if (extension == "flac" && flac_channels_of(path) > 2) {
    return std::make_unique<FfmpegDecoder>("flac");
  }
  return decoder;
}

std::unique_ptr<Decoder> open_source_decoder(std::unique_ptr<Decoder> decoder,
                                             const std::string& path) {
  if (!decoder) return nullptr;
  if (decoder->open_source(path.c_str()) == 0) return decoder;
  if (decoder->refused() || access(path.c_str(), R_OK) != 0) return nullptr;
  // A file under another format's name (a WAV named .flac) is read as what it holds.
  auto probed = std::make_unique<FfmpegDecoder>("");
  if (probed->open_source(path.c_str()) != 0) return nullptr;
  return probed;
}
