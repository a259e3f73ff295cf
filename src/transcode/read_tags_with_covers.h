#pragma once

#include <optional>
#include <string>

class Decoder;
class Encoder;

// Where the pictures of an output come from (the covers setting).
enum class CoverMode { Embedded, Folder, None };

// "embedded", "folder" or "none"; nullopt for anything else.
std::optional<CoverMode> parse_cover_mode(const char* text);

// The decoder's read_tags into encoder, with the covers setting applied: no pictures
// at all for none; for folder, the folder cover of source_path when the source has no
// picture of its own. 0 done, -1 when read_tags failed. A folder cover that cannot be
// read is logged and left out; the output is still made.
int read_tags_with_covers(Decoder& decoder, Encoder& encoder, const std::string& source_path);
