#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The MIME type of an image told by its first bytes; empty when unknown.
std::string image_mime_type(const uint8_t* data, size_t size);
