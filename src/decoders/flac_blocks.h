#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

#include "decoders/head_reader.h"

// FLAC metadata block types read without libFLAC.
inline constexpr int kFlacStreamInfo = 0;
inline constexpr int kFlacVorbisComment = 4;
inline constexpr int kFlacCuesheet = 5;
inline constexpr int kFlacPicture = 6;

// Walks the metadata blocks of a file of file_size bytes that begins with "fLaC" (an ID3v2 tag
// in front is left to libFLAC), calling visit with each block's type, body length and body
// offset. false where the file does not begin so, a header cannot be read, a body runs past
// the end, or visit returns false; true after the last block.
bool walk_flac_blocks(const HeadReader& file, off_t file_size,
                      const std::function<bool(int type, uint32_t length, off_t at)>& visit);
