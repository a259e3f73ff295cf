#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVDictionary;
class Encoder;

// The picture type a picture stream's metadata names (FFmpeg's ID3v2 type
// names in "comment", or an APEv2 "Cover Art (...)" key); front cover (3) otherwise.
int attached_picture_type(const AVDictionary* metadata);

// Passes every attached-picture stream of the file to the encoder.
void add_attached_pictures(const AVFormatContext* format, Encoder* encoder);
