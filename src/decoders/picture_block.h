#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Encoder;

// The binary picture block carried base64-encoded by METADATA_BLOCK_PICTURE.
struct PictureBlock {
  std::vector<uint8_t> raw;
  uint64_t cursor = 0;
  uint32_t picture_type = 0;
  std::string mime_type;
  std::string description;
  std::vector<uint8_t> data;
};

// Fills the fields from raw, checking every length against the bytes left.
bool parse_picture_block(PictureBlock& block);

// Fills the fields before the data (type, MIME type, description) and gives the data's
// length, leaving the cursor where the data begins; raw may end there. Logs nothing.
bool parse_picture_head(PictureBlock& block, uint32_t& data_length);

// Decodes a METADATA_BLOCK_PICTURE value and passes its picture to the encoder. A value that
// is not base64 or a malformed block is logged and skipped: one damaged cover must not cost
// the song.
void add_embedded_picture(std::string_view value, Encoder* encoder);
