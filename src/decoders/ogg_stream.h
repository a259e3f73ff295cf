#pragma once

#include <string>

enum class OggStream { NotOgg, Vorbis, VorbisSurround, Other };

// What the first logical stream of an Ogg file holds, told by the codec
// signature at the start of its first packet (Vorbis of more than two channels is
// VorbisSurround). Reads at most one page header
// and a few bytes; a file that cannot be read counts as NotOgg.
OggStream first_ogg_stream(const std::string& path);
