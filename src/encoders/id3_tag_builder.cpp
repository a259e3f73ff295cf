#include "encoders/id3_tag_builder.h"

#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "encoders/id3_frame_ids.h"
#include "encoders/id3v23_render.h"
#include "encoders/mp3_arithmetic.h"
#include "encoders/tag_kind.h"

namespace {

// libid3tag hands out malloc'd copies of converted strings.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

constexpr int kCompressionOption = 0x0002;
constexpr int kId3v1Option = 0x0100;
constexpr int kPaddingBytes = 12;

const id3_latin1_t* latin1(const char* text) {
  return reinterpret_cast<const id3_latin1_t*>(text);
}

// A new frame attached after all others, its text encoding UTF-8; none when libid3tag refuses.
id3_frame* attach_new(id3_tag* tag, const char* frame_id) {
  id3_frame* frame = id3_frame_new(frame_id);
  if (!frame) return nullptr;
  if (id3_tag_attachframe(tag, frame) != 0) {
    id3_frame_delete(frame);
    return nullptr;
  }
  id3_field_settextencoding(id3_frame_field(frame, 0), ID3_FIELD_TEXTENCODING_UTF_8);
  return frame;
}

// The first frame with this id, or a new attached one.
id3_frame* find_or_attach(id3_tag* tag, const char* frame_id, bool* created = nullptr) {
  id3_frame* existing = id3_tag_findframe(tag, frame_id, 0);
  if (created) *created = existing == nullptr;
  return existing ? existing : attach_new(tag, frame_id);
}

}  // namespace

Id3TagBuilder::Id3TagBuilder(bool measure_only) : tag(id3_tag_new()), measure_only(measure_only) {}

void Id3TagBuilder::add_text_tag(int kind, const char* value) {
  if (!value || !usable()) return;
  if (auto it = id3_frame_ids.find(kind); it != id3_frame_ids.end()) {
    add_frame_text(it->second.c_str(), value);
    return;
  }
  switch (kind) {
    case TrackNumber:
    case TrackTotal:
      compose_number_text("TRCK", kind == TrackTotal, value);
      break;
    case DiscNumber:
    case DiscTotal:
      compose_number_text("TPOS", kind == DiscTotal, value);
      break;
    case CommentText:
      add_comment(value);
      break;
    default:
      break;
  }
}

// Repeated values of one kind become further strings of the same frame.
void Id3TagBuilder::add_frame_text(const char* frame_id, const char* value) {
  id3_frame* frame = find_or_attach(tag.get(), frame_id);
  if (!frame) return;
  Owned<id3_ucs4_t> text(id3_utf8_ucs4duplicate(reinterpret_cast<const id3_utf8_t*>(value)));
  if (!text) return;
  id3_field_addstring(id3_frame_field(frame, 1), text.get());
}

// Number and total meet in one "N/T" text whichever arrives first. These texts are
// taken byte by byte as Latin-1.
void Id3TagBuilder::compose_number_text(const char* frame_id, bool is_total, const char* value) {
  bool created = false;
  id3_frame* frame = find_or_attach(tag.get(), frame_id, &created);
  if (!frame) return;
  id3_field* strings = id3_frame_field(frame, 1);
  std::string current;
  if (!created) {
    // A frame whose earlier conversion gave nothing holds no string: empty current text.
    if (const id3_ucs4_t* first = id3_field_getstrings(strings, 0)) {
      Owned<id3_latin1_t> copy(id3_ucs4_latin1duplicate(first));
      if (copy) current = reinterpret_cast<const char*>(copy.get());
    }
  }
  const std::string composed = is_total ? current + "/" + value : value + current;
  Owned<id3_ucs4_t> text(id3_latin1_ucs4duplicate(latin1(composed.c_str())));
  if (!text) return;
  id3_ucs4_t* list[] = {text.get()};
  id3_field_setstrings(strings, 1, list);
}

// One COMM frame without a description, the one ID3v1 also shows; a second comment
// would need a description of its own, so only the first is kept.
void Id3TagBuilder::add_comment(const char* value) {
  if (id3_tag_findframe(tag.get(), "COMM", 0)) return;
  id3_frame* frame = attach_new(tag.get(), "COMM");
  if (!frame) return;
  id3_field_setlanguage(id3_frame_field(frame, 1), "eng");
  Owned<id3_ucs4_t> text(id3_utf8_ucs4duplicate(reinterpret_cast<const id3_utf8_t*>(value)));
  if (text) id3_field_setfullstring(id3_frame_field(frame, 3), text.get());
}

void Id3TagBuilder::add_picture(const char* mime_type, int picture_type, const char* description,
                                const uint8_t* data, int data_length) {
  if (!usable()) return;
  // A negative length or missing bytes would make libid3tag read outside the caller's data.
  if (data_length < 0 || (data_length > 0 && !data && !measure_only)) return;
  // Every picture gets a frame of its own, also for a picture type already present.
  id3_frame* frame = attach_new(tag.get(), "APIC");
  if (!frame) return;
  id3_field_setlatin1(id3_frame_field(frame, 1), latin1(mime_type ? mime_type : ""));
  id3_field_setint(id3_frame_field(frame, 2), picture_type);
  if (measure_only) {
    omitted_picture_bytes += static_cast<uint64_t>(data_length);
  } else {
    id3_field_setbinarydata(id3_frame_field(frame, 4), data,
                            static_cast<id3_length_t>(data_length));
  }
  if (!description) return;
  Owned<id3_ucs4_t> text(id3_utf8_ucs4duplicate(reinterpret_cast<const id3_utf8_t*>(description)));
  if (text) id3_field_setstring(id3_frame_field(frame, 3), text.get());
}

uint64_t Id3TagBuilder::id3v2_size() {
  if (!usable()) return 0;
  id3_tag* t = tag.get();
  // Measuring renders nothing, so no checksum is computed and no picture is copied.
  if (settings.id3v2_version == 3) return id3v23_size(t) + omitted_picture_bytes;
  id3_tag_options(t, kCompressionOption, 0);
  const id3_length_t unpadded = id3_tag_render(t, nullptr);
  id3_tag_setlength(t, unpadded + kPaddingBytes);
  return id3_tag_render(t, nullptr) + omitted_picture_bytes;
}

std::vector<uint8_t> Id3TagBuilder::render_id3v2(uint64_t size) {
  if (!usable() || measure_only) return std::vector<uint8_t>(size, 0);
  if (settings.id3v2_version == 3) return render_id3v23(tag.get());
  std::vector<uint8_t> bytes(size, 0);
  id3_tag_render(tag.get(), bytes.data());
  return bytes;
}

std::vector<uint8_t> Id3TagBuilder::render_id3v1() {
  std::vector<uint8_t> bytes(kId3v1Bytes, 0);
  if (!usable()) return bytes;
  id3_tag_options(tag.get(), kId3v1Option, ~0);
  id3_tag_render(tag.get(), bytes.data());  // when nothing is written the bytes stay zero
  // Later ID3v2 renderings must not come out as ID3v1.
  id3_tag_options(tag.get(), kId3v1Option, 0);
  return bytes;
}
