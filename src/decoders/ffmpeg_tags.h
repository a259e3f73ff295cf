#pragma once

#include <string_view>
#include <vector>

#include "decoders/vorbis_comments.h"

// One FFmpeg metadata entry as Vorbis comments: the key upper-cased and, where
// MP4, APEv2, RIFF or ID3 spell it differently, renamed to the comment name;
// "3/12" in a track or disc number gives the number and the total.
std::vector<Comment> ffmpeg_comments(std::string_view key, std::string_view value);
