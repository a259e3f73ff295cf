// Arbitrary bytes through the base64 decoder and the picture block parser.
#include <cstddef>
#include <cstdint>

#include "decoders/base64.h"
#include "decoders/picture_block.h"

namespace {

void parse(std::vector<uint8_t> raw) {
  PictureBlock block;
  block.raw = std::move(raw);
  if (!parse_picture_block(block)) return;
  // Every field the parser accepted must lie inside the bytes it was given.
  if (block.cursor > block.raw.size() ||
      block.mime_type.size() + block.description.size() + block.data.size() > block.raw.size()) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes both as a raw block and as the base64 text of a comment value.
  parse(std::vector<uint8_t>(data, data + size));
  if (auto decoded = decode_base64(reinterpret_cast<const char*>(data), size)) {
    if (decoded->size() > 3 * (size / 4)) __builtin_trap();
    parse(std::move(*decoded));
  }
  return 0;
}
