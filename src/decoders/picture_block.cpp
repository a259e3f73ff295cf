#include "decoders/picture_block.h"

#include <climits>

#include "decoders/base64.h"
#include "encoders/encoder.h"
#include "logging/logger.h"

namespace {

// 64-bit arithmetic throughout, so that no 32-bit length can wrap the cursor.
bool fits(const PictureBlock& block, uint64_t count) {
  return block.cursor + count <= block.raw.size();
}

bool read_u32(PictureBlock& block, uint32_t& value) {
  if (!fits(block, 4)) return false;
  const uint8_t* at = block.raw.data() + block.cursor;
  value = (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
  block.cursor += 4;
  return true;
}

template <typename Bytes>
bool read_exactly(PictureBlock& block, uint64_t length, Bytes& out) {
  if (!fits(block, length)) return false;
  const uint8_t* at = block.raw.data() + block.cursor;
  out.assign(at, at + length);
  block.cursor += length;
  return true;
}

template <typename Bytes>
bool read_bytes(PictureBlock& block, Bytes& out) {
  uint32_t length;
  return read_u32(block, length) && read_exactly(block, length, out);
}

}  // namespace

bool parse_picture_head(PictureBlock& block, uint32_t& data_length) {
  if (!read_u32(block, block.picture_type)) return false;
  if (!read_bytes(block, block.mime_type) || !read_bytes(block, block.description)) return false;
  // Width, height, colour depth and colour count are not needed.
  if (!fits(block, 16)) return false;
  block.cursor += 16;
  return read_u32(block, data_length);
}

bool parse_picture_block(PictureBlock& block) {
  uint32_t data_length = 0;
  // The encoder takes the data length as an int.
  if (parse_picture_head(block, data_length) && read_exactly(block, data_length, block.data) &&
      block.data.size() <= INT_MAX) {
    return true;
  }
  Logging::Logger(Logging::ERROR) << "Couldn't decode picture data as valid data.";
  return false;
}

void add_embedded_picture(std::string_view value, Encoder* encoder) {
  auto decoded = decode_base64(value.data(), value.size());
  if (!decoded) {
    Logging::Logger(Logging::ERROR)
        << "Failed to decode METADATA_BLOCK_PICTURE; invalid base64 or could not allocate memory.";
    return;
  }
  PictureBlock block;
  block.raw = std::move(*decoded);
  if (parse_picture_block(block)) {
    encoder->add_picture(block.mime_type.c_str(), static_cast<int>(block.picture_type),
                         block.description.c_str(), block.data.data(),
                         static_cast<int>(block.data.size()));
  }
}
