#include "decoders/flac_metadata_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "decoders/vorbis_comments.h"
#include "encoders/encoder.h"

namespace {

constexpr int kStreamInfo = 0;
constexpr int kVorbisComment = 4;
constexpr int kPicture = 6;
constexpr uint32_t kStreamInfoLength = 34;

// A cursor over one block's bytes that refuses to run past them.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes(bytes) {}
  bool u32_be(uint32_t& value) { return take(value, true); }
  bool u32_le(uint32_t& value) { return take(value, false); }
  bool text(uint32_t length, std::string& value) {
    if (length > bytes.size() - at) return false;
    value.assign(bytes.substr(at, length));
    at += length;
    return true;
  }
  size_t remaining() const { return bytes.size() - at; }

 private:
  bool take(uint32_t& value, bool big_endian) {
    if (remaining() < 4) return false;
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    value = big_endian ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
                       : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
    at += 4;
    return true;
  }
  std::string_view bytes;
  size_t at = 0;
};

struct StreamInfo {
  uint64_t total_samples = 0;
  int sample_rate = 0;
  int channels = 0;
};

bool read_exactly(std::FILE* file, void* destination, size_t size) {
  return std::fread(destination, 1, size, file) == size;
}

bool parse_stream_info(const std::string& block, StreamInfo& info) {
  const auto* b = reinterpret_cast<const uint8_t*>(block.data());
  // After the block and frame size limits (10 bytes): 20 bits rate, 3 channels - 1,
  // 5 bits per sample - 1, 36 bits of total samples.
  info.sample_rate = static_cast<int>(uint32_t{b[10]} << 12 | uint32_t{b[11]} << 4 | b[12] >> 4);
  info.channels = ((b[12] >> 1) & 7) + 1;
  info.total_samples = uint64_t{b[13] & 0x0fu} << 32 | uint64_t{b[14]} << 24 |
                       uint64_t{b[15]} << 16 | uint64_t{b[16]} << 8 | b[17];
  return true;
}

// The comments in a list to be handed on once the whole layout is known to be plain.
bool parse_comments(const std::string& block, std::vector<std::string>& comments) {
  Fields fields(block);
  uint32_t length = 0;
  uint32_t count = 0;
  std::string vendor;
  if (!fields.u32_le(length) || !fields.text(length, vendor) || !fields.u32_le(count)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::string entry;
    if (!fields.u32_le(length) || !fields.text(length, entry)) return false;
    comments.push_back(std::move(entry));
  }
  return true;
}

struct PictureHead {
  uint32_t type = 0;
  std::string mime_type;
  std::string description;
  uint32_t data_length = 0;
};

// The fields of a PICTURE block before its data, from its first head_size bytes.
bool parse_picture_fields(std::string_view head, uint32_t block_length, PictureHead& picture) {
  Fields fields(head);
  uint32_t length = 0;
  uint32_t ignored = 0;
  if (!fields.u32_be(picture.type) || !fields.u32_be(length) ||
      !fields.text(length, picture.mime_type) || !fields.u32_be(length) ||
      !fields.text(length, picture.description)) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (!fields.u32_be(ignored)) return false;  // width, height, depth, colours
  }
  if (!fields.u32_be(picture.data_length)) return false;
  // The data must fill the rest of the block exactly.
  return uint64_t{head.size() - fields.remaining()} + picture.data_length == block_length;
}

// Everything of a PICTURE block but its data, which is skipped. The texts before the data
// are short, so a small read nearly always holds them; a longer one is read when not.
bool parse_picture_head(std::FILE* file, uint32_t block_length, PictureHead& picture) {
  const long start = std::ftell(file);
  if (start < 0) return false;
  for (uint32_t limit : {uint32_t{4096}, uint32_t{64 * 1024}}) {
    std::vector<char> head(std::min(block_length, limit));
    if (std::fseek(file, start, SEEK_SET) != 0 || !read_exactly(file, head.data(), head.size())) {
      return false;
    }
    picture = PictureHead();
    if (parse_picture_fields(std::string_view(head.data(), head.size()), block_length, picture)) {
      return std::fseek(file, start + static_cast<long>(block_length), SEEK_SET) == 0;
    }
    if (head.size() == block_length) return false;
  }
  return false;
}

// A C string stops at its first NUL, as the text libFLAC hands on does.
const char* as_c_string(const std::string& text) {
  return text.c_str();
}

}  // namespace

ScanResult scan_flac_metadata(std::FILE* file, Encoder& encoder) {
  char marker[4];
  if (!read_exactly(file, marker, 4) || std::memcmp(marker, "fLaC", 4) != 0) {
    return ScanResult::NotHandled;
  }
  StreamInfo info;
  bool has_info = false;
  std::vector<std::vector<std::string>> comment_blocks;
  std::vector<PictureHead> pictures;
  std::vector<int> order;  // block types in file order, for the calls below
  for (bool last = false; !last;) {
    uint8_t header[4];
    if (!read_exactly(file, header, 4)) return ScanResult::NotHandled;
    last = (header[0] & 0x80) != 0;
    const int type = header[0] & 0x7f;
    const uint32_t length = uint32_t{header[1]} << 16 | uint32_t{header[2]} << 8 | header[3];
    if (!has_info && (type != kStreamInfo || length != kStreamInfoLength)) {
      return ScanResult::NotHandled;
    }
    if (type == kPicture) {
      PictureHead picture;
      if (!parse_picture_head(file, length, picture)) return ScanResult::NotHandled;
      pictures.push_back(std::move(picture));
      order.push_back(type);
      continue;
    }
    std::string block(length, '\0');
    if (!read_exactly(file, block.data(), length)) return ScanResult::NotHandled;
    if (type == kStreamInfo) {
      if (has_info || length != kStreamInfoLength) return ScanResult::NotHandled;
      has_info = parse_stream_info(block, info);
    } else if (type == kVorbisComment) {
      comment_blocks.emplace_back();
      if (!parse_comments(block, comment_blocks.back())) return ScanResult::NotHandled;
      order.push_back(type);
    }
  }

  // A file cut short inside its metadata is libFLAC's to judge.
  struct stat st;
  const long end = std::ftell(file);
  if (end < 0 || fstat(fileno(file), &st) != 0 || st.st_size < end) return ScanResult::NotHandled;

  size_t next_comments = 0;
  size_t next_picture = 0;
  for (int type : order) {
    if (type == kVorbisComment) {
      CommentScan scan(&encoder);
      for (const std::string& entry : comment_blocks[next_comments++]) {
        if (auto comment = split_comment(entry)) scan.take(*comment);
      }
      scan.finish();
    } else {
      const PictureHead& p = pictures[next_picture++];
      encoder.add_picture(as_c_string(p.mime_type), static_cast<int>(p.type),
                          as_c_string(p.description), nullptr, static_cast<int>(p.data_length));
    }
  }
  return encoder.begin_stream(info.total_samples, info.sample_rate, info.channels) == -1
             ? ScanResult::Failed
             : ScanResult::Done;
}
