// Placeholder until the decoders land.
#include "decoders/decoder.h"

std::unique_ptr<Decoder> make_decoder(std::string&) { return nullptr; }
