#pragma once

#include <id3tag.h>

#include <cstdint>
#include <vector>

// The frames of a libid3tag tag as an ID3v2.3 tag, for readers that know only 2.3
// (libid3tag renders 2.4 alone). Text is ISO-8859-1 where every character fits, else
// UTF-16 with a byte-order mark; several strings of one frame are joined with "/";
// TDRC becomes TYER and, with month and day, TDAT. No unsynchronisation, no extended
// header, 12 bytes of zero padding.
std::vector<uint8_t> render_id3v23(const id3_tag* tag);

// The length render_id3v23 would give, without building any bytes. Picture data is
// copied verbatim, so the length grows by exactly the length of each picture's data.
uint64_t id3v23_size(const id3_tag* tag);
