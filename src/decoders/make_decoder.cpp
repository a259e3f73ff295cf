#include <cctype>
#include <map>

#include "decoders/decoder.h"
#include "decoders/ffmpeg_decoder.h"
#include "decoders/flac_decoder.h"
#include "decoders/ogg_stream.h"
#include "decoders/vorbis_decoder.h"

namespace {

// Extensions read through FFmpeg, and the container each one names.
const std::map<std::string, std::string> ffmpeg_containers = {
    {"opus", "ogg"}, {"wv", "wv"},    {"m4a", "mp4"},   {"ape", "ape"},
    {"wav", "wav"},  {"aif", "aiff"}, {"aiff", "aiff"}, {"tta", "tta"},
};

enum class Kind { None, Vorbis, Flac, Ffmpeg };

// The one place that says which extension goes to which decoder; lower-cases extension.
Kind kind_of(std::string& extension) {
  for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (extension == "ogg" || extension == "oga") return Kind::Vorbis;
  if (extension == "flac") return Kind::Flac;
  if (ffmpeg_containers.count(extension) != 0) return Kind::Ffmpeg;
  return Kind::None;
}

}  // namespace

std::unique_ptr<Decoder> make_decoder(std::string& extension) {
  switch (kind_of(extension)) {
    case Kind::Vorbis:
      return std::make_unique<VorbisDecoder>();
    case Kind::Flac:
      return std::make_unique<FlacDecoder>();
    case Kind::Ffmpeg:
      return std::make_unique<FfmpegDecoder>(ffmpeg_containers.at(extension));
    case Kind::None:
      break;
  }
  return nullptr;
}

bool has_decoder(std::string extension) {
  return kind_of(extension) != Kind::None;
}

std::unique_ptr<Decoder> make_source_decoder(const std::string& path, std::string& extension) {
  std::unique_ptr<Decoder> decoder = make_decoder(extension);
  // Ogg FLAC and Ogg Opus share Vorbis's extensions; anything else stays with libvorbisfile.
  if ((extension == "ogg" || extension == "oga") && first_ogg_stream(path) == OggStream::Other) {
    return std::make_unique<FfmpegDecoder>("ogg");
  }
  return decoder;
}
