#include <cctype>

#include "decoders/decoder.h"
#include "decoders/flac_decoder.h"
#include "decoders/vorbis_decoder.h"

std::unique_ptr<Decoder> make_decoder(std::string& extension) {
  for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (extension == "ogg" || extension == "oga") return std::make_unique<VorbisDecoder>();
  if (extension == "flac") return std::make_unique<FlacDecoder>();
  return nullptr;
}
