#include "encoders/encoder.h"
#include "encoders/mp3_encoder.h"

std::unique_ptr<Encoder> make_encoder(const std::string& desttype, Buffer* buffer) {
  if (desttype == "mp3") return std::make_unique<Mp3Encoder>(buffer);
  return nullptr;
}
