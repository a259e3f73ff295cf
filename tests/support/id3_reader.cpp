#include "support/id3_reader.h"

#include <algorithm>

namespace id3_reader {
namespace {

uint32_t synchsafe(const uint8_t* p) {
  return (uint32_t{p[0]} << 21) | (uint32_t{p[1]} << 14) | (uint32_t{p[2]} << 7) | p[3];
}

uint32_t big_endian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void put_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One string of the given encoding, without its terminator, converted to UTF-8.
std::string to_utf8(std::span<const uint8_t> s, int encoding) {
  std::string out;
  if (encoding == 0) {
    for (uint8_t b : s) put_utf8(out, b);
  } else if (encoding == 3) {
    out.assign(s.begin(), s.end());
  } else {
    bool big = encoding == 2;
    size_t i = 0;
    if (encoding == 1 && s.size() >= 2) {
      if (s[0] == 0xFE && s[1] == 0xFF) big = true, i = 2;
      if (s[0] == 0xFF && s[1] == 0xFE) big = false, i = 2;
    }
    auto unit_at = [&](size_t at) -> uint32_t {
      return big ? (s[at] << 8 | s[at + 1]) : (s[at + 1] << 8 | s[at]);
    };
    for (; i + 1 < s.size(); i += 2) {
      uint32_t unit = unit_at(i);
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < s.size()) {
        const uint32_t low = unit_at(i + 2);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      put_utf8(out, unit);
    }
  }
  return out;
}

size_t terminator_width(int encoding) {
  return encoding == 1 || encoding == 2 ? 2 : 1;
}

// Position of the next terminator at or after from (aligned for UTF-16), or s.size().
size_t find_terminator(std::span<const uint8_t> s, size_t from, int encoding) {
  size_t w = terminator_width(encoding);
  for (size_t i = from; i + w <= s.size(); i += w) {
    if (s[i] == 0 && (w == 1 || s[i + 1] == 0)) return i;
  }
  return s.size();
}

// The frame body without the data-length indicator that 2.4 frames may carry.
std::span<const uint8_t> content(const Frame& frame) {
  std::span<const uint8_t> body(frame.body);
  if ((frame.flags & 0x0001) && body.size() >= 4) body = body.subspan(4);
  return body;
}

std::string trimmed(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

const Frame* Tag::find(const std::string& id, size_t index) const {
  for (const Frame& f : frames) {
    if (f.id == id && index-- == 0) return &f;
  }
  return nullptr;
}

size_t Tag::count(const std::string& id) const {
  return std::count_if(frames.begin(), frames.end(), [&](const Frame& f) { return f.id == id; });
}

std::vector<std::string> Tag::ids() const {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back(f.id);
  return out;
}

std::optional<Tag> parse_id3v2(std::span<const uint8_t> bytes) {
  if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return {};
  if (bytes[3] == 0xFF || bytes[4] == 0xFF) return {};
  for (int i = 6; i < 10; ++i) {
    if (bytes[i] & 0x80) return {};
  }
  Tag tag;
  tag.version_major = bytes[3];
  tag.version_revision = bytes[4];
  tag.flags = bytes[5];
  tag.size = synchsafe(&bytes[6]);
  tag.total_size = 10 + uint64_t{tag.size} + ((tag.flags & 0x10) ? 10 : 0);
  if (tag.version_major < 3 || bytes.size() < 10 + uint64_t{tag.size}) return {};
  if (tag.flags & 0x80) return {};  // tag-wide unsynchronisation is not read here

  size_t pos = 10;
  const size_t end = 10 + tag.size;
  if (tag.flags & 0x40) {  // extended header
    if (end - pos < 4) return {};
    uint32_t ext = tag.version_major == 4 ? synchsafe(&bytes[pos]) : big_endian(&bytes[pos]) + 4;
    if (ext > end - pos) return {};
    pos += ext;
  }
  while (pos + 10 <= end && bytes[pos] != 0) {
    Frame f;
    f.id.assign(reinterpret_cast<const char*>(&bytes[pos]), 4);
    f.size = tag.version_major == 4 ? synchsafe(&bytes[pos + 4]) : big_endian(&bytes[pos + 4]);
    f.flags = static_cast<uint16_t>(bytes[pos + 8] << 8 | bytes[pos + 9]);
    pos += 10;
    if (f.size > end - pos) return {};
    f.body.assign(bytes.begin() + pos, bytes.begin() + pos + f.size);
    pos += f.size;
    tag.frames.push_back(std::move(f));
  }
  tag.padding_size = end - pos;
  tag.padding_all_zero =
      std::all_of(bytes.begin() + pos, bytes.begin() + end, [](uint8_t b) { return b == 0; });
  return tag;
}

std::optional<TextFrame> parse_text_frame(const Frame& frame) {
  std::span<const uint8_t> body = content(frame);
  if (frame.id.empty() || frame.id[0] != 'T' || body.empty() || body[0] > 3) return {};
  TextFrame text;
  text.encoding = body[0];
  std::span<const uint8_t> rest = body.subspan(1);
  const size_t w = terminator_width(text.encoding);
  size_t from = 0;
  while (from < rest.size()) {
    size_t t = find_terminator(rest, from, text.encoding);
    text.strings.push_back(to_utf8(rest.subspan(from, t - from), text.encoding));
    from = t + w;
  }
  return text;
}

std::optional<Picture> parse_picture(const Frame& frame) {
  std::span<const uint8_t> body = content(frame);
  if (frame.id != "APIC" || body.empty() || body[0] > 3) return {};
  Picture pic;
  pic.encoding = body[0];
  size_t mime_end = find_terminator(body, 1, 0);
  if (mime_end >= body.size()) return {};
  pic.mime_type.assign(body.begin() + 1, body.begin() + mime_end);
  size_t pos = mime_end + 1;
  if (pos >= body.size()) return {};
  pic.picture_type = body[pos++];
  const size_t w = terminator_width(pic.encoding);
  // A UTF-16 terminator is searched from the description's own start, not aligned to the body.
  std::span<const uint8_t> rest = body.subspan(pos);
  size_t desc_end = find_terminator(rest, 0, pic.encoding);
  if (desc_end >= rest.size()) return {};
  pic.description = to_utf8(rest.subspan(0, desc_end), pic.encoding);
  pic.data.assign(rest.begin() + desc_end + w, rest.end());
  return pic;
}

std::optional<Id3v1> parse_id3v1(std::span<const uint8_t> bytes) {
  if (bytes.size() != 128 || bytes[0] != 'T' || bytes[1] != 'A' || bytes[2] != 'G') return {};
  const uint8_t* p = bytes.data();
  Id3v1 tag;
  tag.title = trimmed(p + 3, 30);
  tag.artist = trimmed(p + 33, 30);
  tag.album = trimmed(p + 63, 30);
  tag.year = trimmed(p + 93, 4);
  if (p[125] == 0 && p[126] != 0) {  // ID3v1.1: a track number in the comment's last byte
    tag.comment = trimmed(p + 97, 28);
    tag.track = p[126];
  } else {
    tag.comment = trimmed(p + 97, 30);
  }
  tag.genre = p[127];
  return tag;
}

}  // namespace id3_reader
