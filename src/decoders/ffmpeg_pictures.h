#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVDictionary;
class Encoder;

// The MIME type of an image told by its first bytes; empty when unknown.
std::string image_mime_type(const uint8_t* data, size_t size);

// The picture type a picture stream's metadata names (FFmpeg's ID3v2 type
// names in "comment", or an APEv2 "Cover Art (...)" key); front cover (3) otherwise.
int attached_picture_type(const AVDictionary* metadata);

// Passes every attached-picture stream of the file to the encoder.
void add_attached_pictures(const AVFormatContext* format, Encoder* encoder);
