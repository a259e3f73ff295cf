#include "encoders/id3v23_render.h"

#include <string>
#include <string_view>

namespace {

constexpr uint8_t kLatin1 = 0;
constexpr uint8_t kUtf16 = 1;
constexpr uint64_t kPaddingBytes = 12;
constexpr id3_ucs4_t kReplacement = 0xFFFD;

// Collects bytes, or only counts them when it has nowhere to put them: the size and
// the bytes come from the same walk, so they cannot disagree.
class Sink {
 public:
  explicit Sink(std::vector<uint8_t>* bytes) : bytes(bytes) {}

  void put(uint8_t b) {
    ++length;
    if (bytes) bytes->push_back(b);
  }
  void put(const void* data, uint64_t n) {
    length += n;
    if (!bytes || n == 0) return;
    const auto* p = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), p, p + n);
  }
  void put_be(uint64_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) put(uint8_t(value >> shift));
  }
  uint64_t size() const { return length; }
  // Fills in a big-endian number reserved earlier at position at.
  void patch_be32(uint64_t at, uint64_t value) {
    if (!bytes) return;
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = uint8_t(value >> (24 - 8 * i));
  }
  void patch_synchsafe(uint64_t at, uint64_t value) {
    if (!bytes) return;
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = uint8_t((value >> (21 - 7 * i)) & 0x7F);
  }

 private:
  std::vector<uint8_t>* bytes;
  uint64_t length = 0;
};

using Text = std::u32string;

Text text_of(const id3_ucs4_t* s) {
  Text text;
  if (s) {
    for (; *s; ++s) text.push_back(static_cast<char32_t>(*s));
  }
  return text;
}

// The strings of a list field, joined with "/" as 2.3 has no other way to hold several.
Text joined(const id3_field* field) {
  Text text;
  const unsigned n = id3_field_getnstrings(field);
  for (unsigned i = 0; i < n; ++i) {
    if (i != 0) text.push_back(U'/');
    text += text_of(id3_field_getstrings(field, i));
  }
  return text;
}

bool fits_latin1(const Text& text) {
  for (char32_t c : text) {
    if (c > 0xFF) return false;
  }
  return true;
}

// The text of a field written in the frame's own encoding; false for other fields.
bool text_field(const id3_field* field, Text& text) {
  switch (id3_field_type(field)) {
    case ID3_FIELD_TYPE_STRING:
      text = text_of(id3_field_getstring(field));
      return true;
    case ID3_FIELD_TYPE_STRINGFULL:
      text = text_of(id3_field_getfullstring(field));
      return true;
    case ID3_FIELD_TYPE_STRINGLIST:
      text = joined(field);
      return true;
    default:
      return false;
  }
}

uint8_t encoding_for(const id3_frame* frame) {
  for (unsigned i = 0; i < frame->nfields; ++i) {
    Text text;
    if (text_field(&frame->fields[i], text) && !fits_latin1(text)) return kUtf16;
  }
  return kLatin1;
}

void put_utf16_unit(Sink& out, uint32_t unit) {
  out.put(uint8_t(unit & 0xFF));
  out.put(uint8_t(unit >> 8));
}

// Little-endian after its byte-order mark, as most 2.3 writers do it.
void put_utf16(Sink& out, const Text& text) {
  put_utf16_unit(out, 0xFEFF);
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x10000) {
      put_utf16_unit(out, c);
    } else {
      const uint32_t v = c - 0x10000;
      put_utf16_unit(out, 0xD800 | (v >> 10));
      put_utf16_unit(out, 0xDC00 | (v & 0x3FF));
    }
  }
}

void put_text(Sink& out, const Text& text, uint8_t encoding, bool terminated) {
  if (encoding == kUtf16) {
    put_utf16(out, text);
    if (terminated) out.put_be(0, 2);
    return;
  }
  for (char32_t c : text) out.put(uint8_t(c));
  if (terminated) out.put(0);
}

void put_latin1(Sink& out, const id3_latin1_t* s, bool terminated) {
  if (s) {
    for (; *s; ++s) out.put(*s);
  }
  if (terminated) out.put(0);
}

void put_field(Sink& out, const id3_field* field, uint8_t encoding) {
  const auto type = id3_field_type(field);
  switch (type) {
    case ID3_FIELD_TYPE_TEXTENCODING:
      out.put(encoding);
      break;
    case ID3_FIELD_TYPE_LATIN1:
      put_latin1(out, id3_field_getlatin1(field), true);
      break;
    case ID3_FIELD_TYPE_LATIN1FULL:
      put_latin1(out, id3_field_getfulllatin1(field), false);
      break;
    case ID3_FIELD_TYPE_LATIN1LIST:
      for (unsigned i = 0; i < field->latin1list.nstrings; ++i) {
        put_latin1(out, field->latin1list.strings[i], i + 1 < field->latin1list.nstrings);
      }
      break;
    case ID3_FIELD_TYPE_STRING:
    case ID3_FIELD_TYPE_STRINGFULL:
    case ID3_FIELD_TYPE_STRINGLIST: {
      Text text;
      text_field(field, text);
      put_text(out, text, encoding, type == ID3_FIELD_TYPE_STRING);
      break;
    }
    case ID3_FIELD_TYPE_LANGUAGE:
      out.put(field->immediate.value, 3);
      break;
    case ID3_FIELD_TYPE_FRAMEID:
      out.put(field->immediate.value, 4);
      break;
    case ID3_FIELD_TYPE_DATE:
      out.put(field->immediate.value, 8);
      break;
    case ID3_FIELD_TYPE_INT8:
      out.put_be(static_cast<uint64_t>(field->number.value), 1);
      break;
    case ID3_FIELD_TYPE_INT16:
      out.put_be(static_cast<uint64_t>(field->number.value), 2);
      break;
    case ID3_FIELD_TYPE_INT24:
      out.put_be(static_cast<uint64_t>(field->number.value), 3);
      break;
    case ID3_FIELD_TYPE_INT32:
    case ID3_FIELD_TYPE_INT32PLUS:
      out.put_be(static_cast<uint64_t>(field->number.value), 4);
      break;
    case ID3_FIELD_TYPE_BINARYDATA: {
      id3_length_t n = 0;
      const id3_byte_t* data = id3_field_getbinarydata(field, &n);
      out.put(data, data ? n : 0);
      break;
    }
  }
}

// Frame header with a size filled in once the body is written: 2.3 sizes are plain
// 32-bit numbers, not synchsafe ones.
template <typename Body>
void put_frame(Sink& out, const char* id, Body body) {
  out.put(id, 4);
  const uint64_t size_at = out.size();
  out.put_be(0, 4);
  out.put_be(0, 2);  // no flags
  const uint64_t start = out.size();
  body();
  out.patch_be32(size_at, out.size() - start);
}

void put_latin1_frame(Sink& out, const char* id, const std::string& text) {
  put_frame(out, id, [&] {
    out.put(kLatin1);
    out.put(text.data(), text.size());
  });
}

bool digits(const Text& text, size_t from, size_t count) {
  if (text.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < U'0' || text[i] > U'9') return false;
  }
  return true;
}

std::string narrow(const Text& text, size_t from, size_t count) {
  std::string s;
  for (size_t i = from; i < from + count; ++i) s.push_back(static_cast<char>(text[i]));
  return s;
}

// 2.4's timestamp (yyyy[-MM[-dd[...]]]) as 2.3's year and day-and-month frames. A
// date that does not begin with a four-digit year has no 2.3 form and is left out.
void put_date(Sink& out, const id3_frame* frame) {
  if (frame->nfields < 2) return;
  const Text date = text_of(id3_field_getstrings(&frame->fields[1], 0));
  if (!digits(date, 0, 4)) return;
  put_latin1_frame(out, "TYER", narrow(date, 0, 4));
  const bool has_day = date.size() >= 10 && date[4] == U'-' && digits(date, 5, 2) &&
                       date[7] == U'-' && digits(date, 8, 2);
  if (has_day) put_latin1_frame(out, "TDAT", narrow(date, 8, 2) + narrow(date, 5, 2));
}

void put_any_frame(Sink& out, const id3_frame* frame) {
  if (std::string_view(frame->id) == "TDRC") {
    put_date(out, frame);
    return;
  }
  const uint8_t encoding = encoding_for(frame);
  put_frame(out, frame->id, [&] {
    for (unsigned i = 0; i < frame->nfields; ++i) put_field(out, &frame->fields[i], encoding);
  });
}

void put_tag(Sink& out, const id3_tag* tag) {
  out.put("ID3", 3);
  out.put(3);  // version 2.3.0
  out.put(0);
  out.put(0);  // no flags: no unsynchronisation, no extended header
  const uint64_t size_at = out.size();
  out.put_be(0, 4);
  const uint64_t start = out.size();
  for (unsigned i = 0; i < tag->nframes; ++i) put_any_frame(out, tag->frames[i]);
  for (uint64_t i = 0; i < kPaddingBytes; ++i) out.put(0);
  out.patch_synchsafe(size_at, out.size() - start);
}

}  // namespace

std::vector<uint8_t> render_id3v23(const id3_tag* tag) {
  std::vector<uint8_t> bytes;
  Sink out(&bytes);
  put_tag(out, tag);
  return bytes;
}

uint64_t id3v23_size(const id3_tag* tag) {
  Sink out(nullptr);
  put_tag(out, tag);
  return out.size();
}
