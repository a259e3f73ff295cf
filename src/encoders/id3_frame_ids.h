#pragma once

#include <map>
#include <string>

// TagKind value -> ID3v2 frame id, for the kinds that map to one text frame.
// Track and disc numbers are not here: they are composed into TRCK and TPOS.
extern const std::map<int, std::string> id3_frame_ids;
