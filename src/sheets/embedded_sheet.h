#pragma once

#include <optional>
#include <string>

#include "sheets/sheet.h"

// The sheet an audio file carries inside: the text of a CUESHEET tag, else a FLAC
// CUESHEET block (offsets only, no titles). none where it carries neither that parses;
// holds_none, when given, then tells whether that is certain (the file was read), rather than
// the file not being readable now.
std::optional<Sheet> read_embedded_sheet(const std::string& path, bool* holds_none = nullptr);
