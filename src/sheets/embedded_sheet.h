#pragma once

#include <optional>
#include <string>

#include "sheets/sheet.h"

// The sheet an audio file carries inside: the text of a CUESHEET tag, else a FLAC
// CUESHEET block (offsets only, no titles). none where it carries neither that parses.
std::optional<Sheet> read_embedded_sheet(const std::string& path);
