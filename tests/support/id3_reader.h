#pragma once

// An ID3 parser written from the tag format alone, so that tests check the
// encoder's tag bytes against something other than the library that made them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace id3_reader {

struct Frame {
  std::string id;
  uint32_t size = 0;  // body length as the frame header gives it
  uint16_t flags = 0;
  std::vector<uint8_t> body;  // raw, after the frame header
};

struct Tag {
  int version_major = 0;
  int version_revision = 0;
  uint8_t flags = 0;
  uint32_t size = 0;          // the synchsafe size: everything after the 10-byte header
  uint64_t total_size = 0;    // header + size (+ footer when flagged)
  std::vector<Frame> frames;  // in the order they appear
  uint64_t padding_size = 0;
  bool padding_all_zero = true;

  // The index-th frame with this id, or nullptr.
  const Frame* find(const std::string& id, size_t index = 0) const;
  size_t count(const std::string& id) const;
  std::vector<std::string> ids() const;
};

struct TextFrame {
  int encoding = -1;
  std::vector<std::string> strings;  // in UTF-8, split on the terminator
};

struct Picture {
  int encoding = -1;
  std::string mime_type;
  int picture_type = -1;
  std::string description;  // in UTF-8
  std::vector<uint8_t> data;
};

struct Id3v1 {
  std::string title, artist, album, year, comment;
  int track = 0;  // 0: none (ID3v1.0)
  int genre = 255;
};

// ID3v2.3/2.4 tag at the start of bytes; nullopt when the header or a frame is malformed.
std::optional<Tag> parse_id3v2(std::span<const uint8_t> bytes);
std::optional<TextFrame> parse_text_frame(const Frame& frame);
std::optional<Picture> parse_picture(const Frame& frame);

// Exactly 128 bytes starting with "TAG"; fields lose their trailing NULs and blanks.
std::optional<Id3v1> parse_id3v1(std::span<const uint8_t> bytes);

}  // namespace id3_reader
