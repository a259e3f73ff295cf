#include "fixtures.h"

#include <FLAC++/encoder.h>
#include <FLAC/metadata.h>
#include <ftw.h>
#include <ogg/ogg.h>
#include <stdlib.h>
#include <vorbis/vorbisenc.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fixtures {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct MetadataDeleter {
  void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

MetadataPtr comment_block(const Comments& comments) {
  MetadataPtr block(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  if (!block) return nullptr;
  for (const std::string& text : comments) {
    // libFLAC only accepts well-formed entries, so a legal placeholder of the same length goes
    // in first and the raw bytes (perhaps without "=" or not UTF-8) are copied over it.
    std::string placeholder = text.empty() ? "=" : std::string(text.size() - 1, 'A') + "=";
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    entry.length = static_cast<FLAC__uint32>(placeholder.size());
    entry.entry = reinterpret_cast<FLAC__byte*>(placeholder.data());
    if (!FLAC__metadata_object_vorbiscomment_append_comment(block.get(), entry, true)) {
      return nullptr;
    }
    FLAC__StreamMetadata_VorbisComment& vc = block->data.vorbis_comment;
    FLAC__StreamMetadata_VorbisComment_Entry& stored = vc.comments[vc.num_comments - 1];
    memcpy(stored.entry, text.data(), text.size());
    stored.entry[text.size()] = 0;
    if (text.empty()) {
      stored.length = 0;
      block->length -= 1;
    }
  }
  return block;
}

MetadataPtr picture_metadata(const Picture& picture) {
  MetadataPtr block(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE));
  if (!block) return nullptr;
  block->data.picture.type = static_cast<FLAC__StreamMetadata_Picture_Type>(picture.type);
  std::string mime = picture.mime_type;
  std::string description = picture.description;
  std::vector<uint8_t> data = picture.data;
  if (!FLAC__metadata_object_picture_set_mime_type(block.get(), mime.data(), true) ||
      !FLAC__metadata_object_picture_set_description(
          block.get(), reinterpret_cast<FLAC__byte*>(description.data()), true) ||
      !FLAC__metadata_object_picture_set_data(block.get(), data.data(),
                                              static_cast<FLAC__uint32>(data.size()), true)) {
    return nullptr;
  }
  return block;
}

bool encode_flac(const std::string& path, const AudioSpec& spec,
                 std::vector<FLAC__StreamMetadata*>& blocks) {
  FLAC::Encoder::File encoder;
  encoder.set_channels(spec.channels);
  encoder.set_bits_per_sample(spec.bits_per_sample);
  encoder.set_sample_rate(spec.sample_rate);
  encoder.set_compression_level(5);
  encoder.set_total_samples_estimate(spec.total_samples);
  if (!blocks.empty() && !encoder.set_metadata(blocks.data(), blocks.size())) return false;
  if (encoder.init(path) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) return false;

  constexpr uint64_t kPiece = 4096;
  std::vector<FLAC__int32> interleaved;
  bool ok = true;
  for (uint64_t start = 0; ok && start < spec.total_samples; start += kPiece) {
    uint64_t count = std::min(kPiece, spec.total_samples - start);
    interleaved.resize(count * spec.channels);
    for (uint64_t i = 0; i < count; ++i) {
      for (unsigned c = 0; c < spec.channels; ++c) {
        interleaved[i * spec.channels + c] = sine_sample(spec, c, start + i);
      }
    }
    ok = encoder.process_interleaved(interleaved.data(), static_cast<uint32_t>(count));
  }
  return encoder.finish() && ok;
}

// One Ogg Vorbis encoder session; every libvorbis/libogg record is cleared once.
class VorbisWriter {
 public:
  VorbisWriter() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~VorbisWriter() {
    if (stream_ready_) ogg_stream_clear(&stream_);
    if (block_ready_) vorbis_block_clear(&block_);
    if (dsp_ready_) vorbis_dsp_clear(&dsp_);
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
    if (file_) fclose(file_);
  }
  VorbisWriter(const VorbisWriter&) = delete;
  VorbisWriter& operator=(const VorbisWriter&) = delete;

  bool write(const std::string& path, const AudioSpec& spec, const Comments& comments,
             float quality) {
#ifdef __SANITIZE_ADDRESS__
    // libvorbisenc leaks a little of its set-up for more than three channels; not ours to report.
    __lsan_disable();
#endif
    int setup = vorbis_encode_init_vbr(&info_, spec.channels, spec.sample_rate, quality);
#ifdef __SANITIZE_ADDRESS__
    __lsan_enable();
#endif
    if (setup != 0) return false;
    for (const std::string& text : comments) vorbis_comment_add(&comment_, text.c_str());
    if (vorbis_analysis_init(&dsp_, &info_) != 0) return false;
    dsp_ready_ = true;
    if (vorbis_block_init(&dsp_, &block_) != 0) return false;
    block_ready_ = true;
    if (ogg_stream_init(&stream_, 0x6f6c7678) != 0) return false;
    stream_ready_ = true;
    file_ = fopen(path.c_str(), "wb");
    if (!file_) return false;

    ogg_packet header, comment_header, codebooks;
    vorbis_analysis_headerout(&dsp_, &comment_, &header, &comment_header, &codebooks);
    ogg_stream_packetin(&stream_, &header);
    ogg_stream_packetin(&stream_, &comment_header);
    ogg_stream_packetin(&stream_, &codebooks);
    ogg_page page;
    // Audio must start on a fresh page.
    while (ogg_stream_flush(&stream_, &page) != 0) {
      if (!write_page(page)) return false;
    }

    const double full_scale = static_cast<double>(1u << (spec.bits_per_sample - 1));
    constexpr uint64_t kPiece = 1024;
    for (uint64_t start = 0; start < spec.total_samples; start += kPiece) {
      int count = static_cast<int>(std::min(kPiece, spec.total_samples - start));
      float** area = vorbis_analysis_buffer(&dsp_, count);
      for (unsigned c = 0; c < spec.channels; ++c) {
        for (int i = 0; i < count; ++i) {
          area[c][i] = static_cast<float>(sine_sample(spec, c, start + i) / full_scale);
        }
      }
      vorbis_analysis_wrote(&dsp_, count);
      if (!drain()) return false;
    }
    vorbis_analysis_wrote(&dsp_, 0);
    if (!drain()) return false;
    ogg_page last;
    while (ogg_stream_flush(&stream_, &last) != 0) {
      if (!write_page(last)) return false;
    }
    int closed = fclose(file_);
    file_ = nullptr;
    return closed == 0;
  }

 private:
  bool write_page(const ogg_page& page) {
    return fwrite(page.header, 1, page.header_len, file_) == static_cast<size_t>(page.header_len) &&
           fwrite(page.body, 1, page.body_len, file_) == static_cast<size_t>(page.body_len);
  }

  bool drain() {
    while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
      vorbis_analysis(&block_, nullptr);
      vorbis_bitrate_addblock(&block_);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp_, &packet) == 1) {
        ogg_stream_packetin(&stream_, &packet);
        ogg_page page;
        while (ogg_stream_pageout(&stream_, &page) != 0) {
          if (!write_page(page)) return false;
        }
      }
    }
    return true;
  }

  vorbis_info info_;
  vorbis_comment comment_;
  vorbis_dsp_state dsp_;
  vorbis_block block_;
  ogg_stream_state stream_;
  bool dsp_ready_ = false;
  bool block_ready_ = false;
  bool stream_ready_ = false;
  FILE* file_ = nullptr;
};

void put_be32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

void put_png_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
  put_be32(out, static_cast<uint32_t>(body.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  put_be32(out, crc32(out.data() + start, out.size() - start));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> zlib_stored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t offset = 0;
  do {
    size_t length = std::min<size_t>(65535, raw.size() - offset);
    bool last = offset + length == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(~length));
    out.push_back(static_cast<uint8_t>(~length >> 8));
    out.insert(out.end(), raw.begin() + offset, raw.begin() + offset + length);
    offset += length;
  } while (offset < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  put_be32(out, (b << 16) | a);
  return out;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

}  // namespace

int32_t sine_sample(const AudioSpec& spec, unsigned channel, uint64_t i) {
  const double full_scale = static_cast<double>((1u << (spec.bits_per_sample - 1)) - 1);
  const auto n = static_cast<double>(spec.first_sample + i);
  const auto rate = static_cast<double>(spec.sample_rate);
  // Without a glide this is exactly the plain sine's arithmetic, so older fixtures keep their bits.
  const double frequency = spec.frequency + spec.glide * (n / rate) / 2;
  const double phase = 2.0 * kPi * frequency * (channel + 1) * n / rate;
  return static_cast<int32_t>(std::lround(spec.amplitude * full_scale * std::sin(phase)));
}

bool write_flac(const std::string& path, const AudioSpec& spec, const Comments& comments,
                const std::vector<Picture>& pictures) {
  std::vector<MetadataPtr> owned;
  std::vector<FLAC__StreamMetadata*> blocks;
  if (!comments.empty()) {
    owned.push_back(comment_block(comments));
    if (!owned.back()) return false;
    blocks.push_back(owned.back().get());
  }
  for (const Picture& picture : pictures) {
    owned.push_back(picture_metadata(picture));
    if (!owned.back()) return false;
    blocks.push_back(owned.back().get());
  }
  if (encode_flac(path, spec, blocks)) return true;
  remove(path.c_str());
  return false;
}

bool write_vorbis(const std::string& path, const AudioSpec& spec, const Comments& comments,
                  float quality) {
  bool ok = VorbisWriter().write(path, spec, comments, quality);
  if (!ok) remove(path.c_str());
  return ok;
}

std::vector<uint8_t> picture_block(const Picture& picture) {
  std::vector<uint8_t> out;
  put_be32(out, static_cast<uint32_t>(picture.type));
  put_be32(out, static_cast<uint32_t>(picture.mime_type.size()));
  out.insert(out.end(), picture.mime_type.begin(), picture.mime_type.end());
  put_be32(out, static_cast<uint32_t>(picture.description.size()));
  out.insert(out.end(), picture.description.begin(), picture.description.end());
  for (int i = 0; i < 4; ++i) put_be32(out, 0);  // width, height, depth, colours
  put_be32(out, static_cast<uint32_t>(picture.data.size()));
  out.insert(out.end(), picture.data.begin(), picture.data.end());
  return out;
}

std::string base64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    size_t left = bytes.size() - i;
    if (left > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= bytes[i + 2];
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    out.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return out;
}

std::vector<uint8_t> solid_png(unsigned width, unsigned height, uint32_t rgb) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  put_be32(header, width);
  put_be32(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  put_png_chunk(out, "IHDR", header);
  std::vector<uint8_t> raw;
  for (unsigned y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    for (unsigned x = 0; x < width; ++x) {
      raw.insert(raw.end(), {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                             static_cast<uint8_t>(rgb)});
    }
  }
  put_png_chunk(out, "IDAT", zlib_stored(raw));
  put_png_chunk(out, "IEND", {});
  return out;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return bytes;
  uint8_t piece[65536];
  size_t n;
  while ((n = fread(piece, 1, sizeof piece, file)) > 0) bytes.insert(bytes.end(), piece, piece + n);
  fclose(file);
  return bytes;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/olvex-test-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

TempDir::~TempDir() {
  if (!path_.empty()) nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace fixtures
