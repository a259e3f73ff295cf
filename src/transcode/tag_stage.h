#pragma once

#include <cstdint>
#include <string>

class Decoder;
class Encoder;

// The part of setting up an output that every path shares: the decoder pushes the stream's
// parameters, tags and pictures into the encoder (with the covers setting applied), the
// stats cache is asked for a remembered size (else remembered_size, when not 0, is taken),
// and the encoder fixes its tags and the file's size. inputs_mtime gets the time that size
// is stamped with. false, logged, on failure.
bool fix_tags_and_size(Decoder& decoder, Encoder& encoder, const std::string& source_path,
                       int64_t& inputs_mtime, uint64_t remembered_size = 0);
