#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Strict base64 (standard alphabet, padding required, no white space).
// None for any invalid input.
std::optional<std::vector<uint8_t>> decode_base64(const char* text, size_t length);
