#include "decoders/flac_metadata_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/flac_blocks.h"
#include "decoders/picture_block.h"
#include "decoders/vorbis_comments.h"
#include "encoders/encoder.h"

namespace {

constexpr uint32_t kStreamInfoLength = 34;

struct StreamInfo {
  uint64_t total_samples = 0;
  int sample_rate = 0;
  int channels = 0;
};

// A comment block or a picture, in file order, to be handed on once the whole layout is
// known to be plain.
struct Block {
  explicit Block(int type) : type(type) {}
  int type;
  std::vector<std::string> comments;
  PictureBlock picture;  // without its data, which is skipped
  uint32_t data_length = 0;
};

StreamInfo parse_stream_info(const std::string& block) {
  const auto* b = reinterpret_cast<const uint8_t*>(block.data());
  StreamInfo info;
  // After the block and frame size limits (10 bytes): 20 bits rate, 3 channels - 1,
  // 5 bits per sample - 1, 36 bits of total samples.
  info.sample_rate = static_cast<int>(uint32_t{b[10]} << 12 | uint32_t{b[11]} << 4 | b[12] >> 4);
  info.channels = ((b[12] >> 1) & 7) + 1;
  info.total_samples = uint64_t{b[13] & 0x0fu} << 32 | uint64_t{b[14]} << 24 |
                       uint64_t{b[15]} << 16 | uint64_t{b[16]} << 8 | b[17];
  return info;
}

// Everything of a PICTURE block at start but its data, which is skipped; the data must fill
// the rest of the block exactly. The texts before the data are short, so a small read nearly
// always holds them; a longer one is read when not.
bool parse_picture_head(const HeadReader& file, off_t start, uint32_t block_length, Block& block) {
  for (uint32_t limit : {uint32_t{4096}, uint32_t{64 * 1024}}) {
    block.picture = PictureBlock();
    block.picture.raw.resize(std::min(block_length, limit));
    if (!file.read(block.picture.raw.data(), block.picture.raw.size(), start)) return false;
    if (parse_picture_head(block.picture, block.data_length)) {
      block.picture.raw.clear();
      return block.picture.cursor + block.data_length == block_length;
    }
    if (block.picture.raw.size() == block_length) return false;
  }
  return false;
}

void hand_on(const Block& block, Encoder& encoder) {
  if (block.type == kFlacVorbisComment) {
    CommentScan scan(&encoder);
    for (const std::string& entry : block.comments) {
      if (auto comment = split_comment(entry)) scan.take(*comment);
    }
    scan.finish();
    return;
  }
  // As C strings, which stop at a NUL as the texts libFLAC hands on do.
  const PictureBlock& p = block.picture;
  encoder.add_picture(p.mime_type.c_str(), static_cast<int>(p.picture_type), p.description.c_str(),
                      nullptr, static_cast<int>(block.data_length));
}

}  // namespace

ScanResult scan_flac_metadata(std::FILE* source, Encoder& encoder) {
  // A file cut short inside its metadata is libFLAC's to judge.
  struct stat st;
  if (fstat(fileno(source), &st) != 0) return ScanResult::NotHandled;
  // Tags and a small cover lie in the first few KB; past them only block headers are read.
  const HeadReader file(fileno(source), 16 * 1024);
  StreamInfo info;
  bool has_info = false;
  std::vector<Block> blocks;
  const bool plain = walk_flac_blocks(file, st.st_size, [&](int type, uint32_t length, off_t at) {
    // STREAMINFO comes first and only once.
    const bool misplaced = has_info ? type == kFlacStreamInfo : type != kFlacStreamInfo;
    if (misplaced || (type == kFlacStreamInfo && length != kStreamInfoLength)) return false;
    if (type == kFlacPicture)
      return parse_picture_head(file, at, length, blocks.emplace_back(type));
    if (type != kFlacStreamInfo && type != kFlacVorbisComment) return true;
    std::string bytes(length, '\0');
    if (!file.read(bytes.data(), length, at)) return false;
    if (type == kFlacVorbisComment)
      return parse_comment_list(bytes, blocks.emplace_back(type).comments);
    info = parse_stream_info(bytes);
    has_info = true;
    return true;
  });
  if (!plain) return ScanResult::NotHandled;

  for (const Block& block : blocks) hand_on(block, encoder);
  return encoder.begin_stream(info.total_samples, info.sample_rate, info.channels) == -1
             ? ScanResult::Failed
             : ScanResult::Done;
}
