#include "encoders/id3v23_render.h"

#include <gtest/gtest.h>
#include <id3tag.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/id3_reader.h"

namespace {

struct TagDeleter {
  void operator()(id3_tag* t) const { id3_tag_delete(t); }
};
using TagPtr = std::unique_ptr<id3_tag, TagDeleter>;

std::unique_ptr<id3_ucs4_t, decltype(&std::free)> ucs4(const std::string& utf8) {
  return {id3_utf8_ucs4duplicate(reinterpret_cast<const id3_utf8_t*>(utf8.c_str())), &std::free};
}

// Frames made the way the MP3 encoder makes them: UTF-8 encoding, one string per value.
id3_frame* attach(id3_tag* tag, const char* id) {
  id3_frame* frame = id3_frame_new(id);
  id3_tag_attachframe(tag, frame);
  id3_field_settextencoding(id3_frame_field(frame, 0), ID3_FIELD_TEXTENCODING_UTF_8);
  return frame;
}

void add_text(id3_tag* tag, const char* id, const std::vector<std::string>& values) {
  id3_frame* frame = attach(tag, id);
  for (const auto& value : values)
    id3_field_addstring(id3_frame_field(frame, 1), ucs4(value).get());
}

void add_picture(id3_tag* tag, const std::string& description, const std::vector<uint8_t>& data) {
  id3_frame* frame = attach(tag, "APIC");
  id3_field_setlatin1(id3_frame_field(frame, 1),
                      reinterpret_cast<const id3_latin1_t*>("image/png"));
  id3_field_setint(id3_frame_field(frame, 2), 3);
  id3_field_setstring(id3_frame_field(frame, 3), ucs4(description).get());
  id3_field_setbinarydata(id3_frame_field(frame, 4), data.data(), data.size());
}

struct TextCase {
  const char* name;
  const char* id;
  std::vector<std::string> values;
  // What a 2.3 reader finds: frame id, encoding, text (UTF-8); none for a dropped frame.
  std::vector<std::tuple<std::string, int, std::string>> expected;
};

class Id3v23Text : public ::testing::TestWithParam<TextCase> {};

TEST_P(Id3v23Text, FramesReadBackAs23) {
  TagPtr tag(id3_tag_new());
  add_text(tag.get(), "TSSE", {"OLVEX"});
  add_text(tag.get(), GetParam().id, GetParam().values);
  const std::vector<uint8_t> bytes = render_id3v23(tag.get());
  EXPECT_EQ(id3v23_size(tag.get()), bytes.size());

  auto parsed = id3_reader::parse_id3v2(bytes);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->version_major, 3);
  EXPECT_EQ(parsed->version_revision, 0);
  EXPECT_EQ(parsed->flags, 0);
  EXPECT_EQ(parsed->total_size, bytes.size());
  EXPECT_EQ(parsed->padding_size, 12u);
  EXPECT_TRUE(parsed->padding_all_zero);

  std::vector<std::string> ids = {"TSSE"};
  for (const auto& [id, encoding, text] : GetParam().expected) ids.push_back(id);
  ASSERT_EQ(parsed->ids(), ids);
  for (size_t i = 0; i < GetParam().expected.size(); ++i) {
    const auto& [id, encoding, text] = GetParam().expected[i];
    const id3_reader::Frame& frame = parsed->frames[i + 1];
    EXPECT_EQ(frame.flags, 0) << id;
    auto read = id3_reader::parse_text_frame(frame);
    ASSERT_TRUE(read.has_value()) << id;
    EXPECT_EQ(read->encoding, encoding) << id;
    // A frame without strings keeps only its encoding byte.
    const auto strings = text.empty() ? std::vector<std::string>{} : std::vector<std::string>{text};
    EXPECT_EQ(read->strings, strings) << id;
    if (encoding == 1) {  // a byte-order mark right after the encoding byte
      ASSERT_GE(frame.body.size(), 3u);
      EXPECT_EQ(frame.body[1], 0xFF) << id;
      EXPECT_EQ(frame.body[2], 0xFE) << id;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Id3v23Text,
    ::testing::Values(
        TextCase{"Ascii", "TIT2", {"Hello"}, {{"TIT2", 0, "Hello"}}},
        TextCase{"Latin1Accent", "TIT2", {"Caf\xC3\xA9"}, {{"TIT2", 0, "Caf\xC3\xA9"}}},
        TextCase{"Japanese",
                 "TIT2",
                 {"\xE6\x97\xA5\xE6\x9C\xAC"},
                 {{"TIT2", 1, "\xE6\x97\xA5\xE6\x9C\xAC"}}},
        // Beyond the basic plane: a surrogate pair.
        TextCase{
            "MusicalNote", "TIT2", {"\xF0\x9F\x8E\xB5 x"}, {{"TIT2", 1, "\xF0\x9F\x8E\xB5 x"}}},
        TextCase{"TwoArtists", "TPE1", {"A", "B"}, {{"TPE1", 0, "A/B"}}},
        // One value outside Latin-1 makes the whole frame UTF-16.
        TextCase{"MixedArtists", "TPE1", {"A", "\xCE\xA9"}, {{"TPE1", 1, "A/\xCE\xA9"}}},
        TextCase{"TrackOfTotal", "TRCK", {"3/12"}, {{"TRCK", 0, "3/12"}}},
        TextCase{"FullDate", "TDRC", {"2004-05-17"}, {{"TYER", 0, "2004"}, {"TDAT", 0, "1705"}}},
        TextCase{"DateWithTime",
                 "TDRC",
                 {"1999-12-31T23:59"},
                 {{"TYER", 0, "1999"}, {"TDAT", 0, "3112"}}},
        TextCase{"YearOnly", "TDRC", {"2004"}, {{"TYER", 0, "2004"}}},
        TextCase{"YearAndMonth", "TDRC", {"2004-05"}, {{"TYER", 0, "2004"}}},
        TextCase{"SecondDateIgnored", "TDRC", {"2001", "2002-03-04"}, {{"TYER", 0, "2001"}}},
        TextCase{"DateWithoutYear", "TDRC", {"May 2004"}, {}},
        TextCase{"ShortYear", "TDRC", {"99"}, {}},
        TextCase{"EmptyFrame", "TALB", {}, {{"TALB", 0, ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The exact bytes of a small tag: sizes that differ between plain and synchsafe numbers.
TEST(Id3v23Render, HeaderAndFrameSizesAreByteExact) {
  TagPtr tag(id3_tag_new());
  const std::string title(200, 'x');  // body 201: 0x000000C9 plain, 0x00000149 synchsafe
  add_text(tag.get(), "TIT2", {title});
  const std::vector<uint8_t> bytes = render_id3v23(tag.get());

  // Frame header 10, body 201, padding 12: 223, synchsafe 0x01 0x5F.
  // Tag header, then the frame header and its encoding byte 0.
  std::vector<uint8_t> expected = {'I', 'D', '3', 3, 0, 0, 0,    0, 0x01, 0x5F, 'T',
                                   'I', 'T', '2', 0, 0, 0, 0xC9, 0, 0,    0};
  expected.reserve(expected.size() + title.size() + 12);  // GCC 12 misjudges the growth
  expected.insert(expected.end(), title.begin(), title.end());
  expected.insert(expected.end(), 12, 0);
  EXPECT_EQ(bytes, expected);
}

TEST(Id3v23Render, PicturesHaveThe23Layout) {
  const std::vector<uint8_t> png = fixtures::solid_png(4, 4, 0x00ff00);
  TagPtr tag(id3_tag_new());
  add_picture(tag.get(), "front", png);
  add_picture(tag.get(), "\xE8\xA1\xA8", png);  // a description outside Latin-1
  const std::vector<uint8_t> bytes = render_id3v23(tag.get());
  auto parsed = id3_reader::parse_id3v2(bytes);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->count("APIC"), 2u);

  const struct {
    int encoding;
    std::string description;
  } expected[] = {{0, "front"}, {1, "\xE8\xA1\xA8"}};
  for (size_t i = 0; i < 2; ++i) {
    auto pic = id3_reader::parse_picture(*parsed->find("APIC", i));
    ASSERT_TRUE(pic.has_value()) << i;
    EXPECT_EQ(pic->encoding, expected[i].encoding) << i;
    EXPECT_EQ(pic->mime_type, "image/png") << i;
    EXPECT_EQ(pic->picture_type, 3) << i;
    EXPECT_EQ(pic->description, expected[i].description) << i;
    EXPECT_EQ(pic->data, png) << i;
  }
  // Encoding 0, "image/png" and its NUL, type 3, "front" and its NUL, then the data.
  const std::vector<uint8_t>& body = parsed->find("APIC")->body;
  const std::string head(body.begin(), body.begin() + 18);
  EXPECT_EQ(head, std::string("\0image/png\0\3front\0", 18));
  EXPECT_EQ(body.size(), 18 + png.size());
}

// A size path that leaves the picture bytes out and adds their lengths afterwards must
// land on the rendered size exactly.
TEST(Id3v23Render, SizeGrowsByExactlyEachPicturesDataLength) {
  for (size_t length : {size_t{1}, size_t{127}, size_t{128}, size_t{300}, size_t{70000}}) {
    TagPtr empty(id3_tag_new()), full(id3_tag_new());
    for (id3_tag* t : {empty.get(), full.get()}) {
      add_text(t, "TIT2", {"\xE6\x97\xA5"});
      add_text(t, "TDRC", {"2004-05-17"});
    }
    add_picture(empty.get(), "a", {});
    add_picture(empty.get(), "b", {});
    add_picture(full.get(), "a", std::vector<uint8_t>(length, 0x80));
    add_picture(full.get(), "b", std::vector<uint8_t>(length + 1, 0xFF));
    const uint64_t expected = id3v23_size(empty.get()) + length + length + 1;
    EXPECT_EQ(id3v23_size(full.get()), expected) << length;
    EXPECT_EQ(render_id3v23(full.get()).size(), expected) << length;
  }
}

}  // namespace
