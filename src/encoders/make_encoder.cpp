#include "encoders/encoder.h"
#include "encoders/mp3_encoder.h"
#include "encoders/mp3_size_probe.h"

namespace {

constexpr const char* kMp3 = "mp3";

}  // namespace

std::unique_ptr<Encoder> make_encoder(const std::string& desttype, Buffer* buffer) {
  if (desttype == kMp3) return std::make_unique<Mp3Encoder>(buffer);
  return nullptr;
}

std::unique_ptr<Mp3SizeProbe> make_size_probe(const std::string& desttype) {
  if (desttype == kMp3) return std::make_unique<Mp3SizeProbe>();
  return nullptr;
}
