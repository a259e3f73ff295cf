#pragma once

#include <id3tag.h>

#include <cstdint>
#include <memory>
#include <vector>

// The ID3 frames of one output file, built from tag kinds and pictures, and their
// rendering. A builder made to measure only leaves picture bytes out of its frames and
// counts their length instead: an ID3v2 frame grows by exactly its data's length (there is
// no unsynchronisation or compression), so the measured size is the rendered size.
class Id3TagBuilder {
 public:
  explicit Id3TagBuilder(bool measure_only = false);

  // False when libid3tag could not make a tag; everything then does nothing.
  bool usable() const { return tag != nullptr; }

  void add_text_tag(int kind, const char* value);
  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length);

  // The ID3v2 tag's size with its padding; fixes that size for render_id3v2.
  uint64_t id3v2_size();
  // Only for a builder that keeps its pictures, after id3v2_size.
  std::vector<uint8_t> render_id3v2(uint64_t size);
  // The 128 bytes of the ID3v1 tag (zeros where libid3tag writes none).
  std::vector<uint8_t> render_id3v1();

 private:
  struct TagDeleter {
    void operator()(id3_tag* t) const { id3_tag_delete(t); }
  };

  void add_frame_text(const char* frame_id, const char* value);
  void add_comment(const char* value);
  void compose_number_text(const char* frame_id, bool is_total, const char* value);

  std::unique_ptr<id3_tag, TagDeleter> tag;
  const bool measure_only;
  uint64_t omitted_picture_bytes = 0;
};
