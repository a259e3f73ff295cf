#pragma once

#include <string>
#include <string_view>

// A sheet's bytes as UTF-8: valid UTF-8 is kept as it is (a byte order mark dropped),
// anything else is read as Windows-1252, the other encoding rippers write.
std::string sheet_text_to_utf8(std::string_view bytes);

// Whether bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);
