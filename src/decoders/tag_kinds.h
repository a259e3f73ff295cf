#pragma once

#include <map>
#include <string>

#include "encoders/tag_kind.h"

// Vorbis-comment field names (upper case) and the tag each one stands for.
extern const std::map<std::string, TagKind> tag_kinds;
