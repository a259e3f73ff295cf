#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "encoder_harness.h"
#include "encoders/mp3_encoder.h"
#include "support/id3_reader.h"
#include "support/settings_guard.h"

namespace {

using id3_reader::Tag;

// One encoder over its own Buffer; tags are added, then rendered and read back.
class Mp3Tags : public ::testing::Test {
 protected:
  // Ten seconds of CD audio, so TLEN is 10000.
  void begin() { ASSERT_EQ(encoder.begin_stream(441000, 44100, 2), 0); }

  Tag emit(uint64_t known_size = 0) {
    EXPECT_EQ(encoder.emit_tags(known_size), 0);
    auto tag = id3_reader::parse_id3v2(harness::head_bytes(buffer));
    EXPECT_TRUE(tag.has_value());
    return tag.value_or(Tag{});
  }

  static std::vector<std::string> strings(const Tag& tag, const std::string& id) {
    const id3_reader::Frame* frame = tag.find(id);
    if (!frame) return {"<no " + id + ">"};
    auto text = id3_reader::parse_text_frame(*frame);
    if (!text) return {"<bad " + id + ">"};
    EXPECT_EQ(text->encoding, 3) << id;
    return text->strings;
  }

  SettingsGuard guard;
  Buffer buffer;
  Mp3Encoder encoder{&buffer};
};

TEST_F(Mp3Tags, AnUntaggedSourceGetsSoftwareAndLengthAndTwelveBytesOfPadding) {
  begin();
  Tag tag = emit();
  EXPECT_EQ(tag.version_major, 4);
  EXPECT_EQ(tag.ids(), (std::vector<std::string>{"TSSE", "TLEN"}));
  EXPECT_EQ(strings(tag, "TSSE"), std::vector<std::string>{"OLVEX"});
  EXPECT_EQ(strings(tag, "TLEN"), std::vector<std::string>{"10000"});
  EXPECT_EQ(tag.padding_size, 12u);
  EXPECT_TRUE(tag.padding_all_zero);
  // Then only the CBR information frame, before any audio.
  const size_t info = harness::info_frame_length(harness::head_bytes(buffer), tag.total_size);
  EXPECT_GT(info, 0u);
  EXPECT_EQ(tag.total_size + info, buffer.head_size());
}

TEST_F(Mp3Tags, EveryTextKindBecomesItsFrameInTheOrderFirstUsed) {
  const std::vector<std::pair<int, std::string>> kinds = {
      {Title, "TIT2"},     {Artist, "TPE1"},       {Album, "TALB"},     {Genre, "TCON"},
      {Date, "TDRC"},      {Composer, "TCOM"},     {Performer, "TOPE"}, {Copyright, "TCOP"},
      {EncodedBy, "TENC"}, {Organization, "TPUB"}, {Conductor, "TPE3"}, {AlbumArtist, "TPE2"},
  };
  // Tags before begin_stream, as the FLAC decoder delivers them.
  for (const auto& [kind, id] : kinds) encoder.add_text_tag(kind, ("value of " + id).c_str());
  begin();
  Tag tag = emit();

  std::vector<std::string> expected_ids = {"TSSE"};
  for (const auto& [kind, id] : kinds) {
    expected_ids.push_back(id);
    EXPECT_EQ(strings(tag, id), std::vector<std::string>{"value of " + id});
  }
  expected_ids.push_back("TLEN");
  EXPECT_EQ(tag.ids(), expected_ids);
}

TEST_F(Mp3Tags, RepeatedValuesBecomeStringsOfOneFrame) {
  begin();
  encoder.add_text_tag(Artist, "A");
  encoder.add_text_tag(Title, "T");
  encoder.add_text_tag(Artist, "B");
  Tag tag = emit();
  EXPECT_EQ(tag.count("TPE1"), 1u);
  EXPECT_EQ(strings(tag, "TPE1"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(tag.ids(), (std::vector<std::string>{"TSSE", "TLEN", "TPE1", "TIT2"}));
}

TEST_F(Mp3Tags, KindsWithoutAFrameAndAbsentValuesAddNothing) {
  encoder.add_text_tag(19, "x");
  encoder.add_text_tag(-1, "x");
  encoder.add_text_tag(1000, "x");
  encoder.add_text_tag(Title, nullptr);
  encoder.add_text_tag(TrackNumber, nullptr);
  begin();
  EXPECT_EQ(emit().ids(), (std::vector<std::string>{"TSSE", "TLEN"}));
}

struct NumberCase {
  const char* name;
  std::vector<std::pair<int, const char*>> calls;
  std::string trck, tpos;  // empty: no such frame
};

class Mp3NumberTags : public Mp3Tags, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(Mp3NumberTags, NumberAndTotalMeetInOneFrame) {
  for (const auto& [kind, value] : GetParam().calls) encoder.add_text_tag(kind, value);
  begin();
  Tag tag = emit();
  const std::pair<std::string, std::string> frames[] = {{"TRCK", GetParam().trck},
                                                        {"TPOS", GetParam().tpos}};
  for (const auto& [id, text] : frames) {
    if (text.empty()) {
      EXPECT_EQ(tag.find(id), nullptr) << id;
    } else {
      EXPECT_EQ(tag.count(id), 1u) << id;
      EXPECT_EQ(strings(tag, id), std::vector<std::string>{text}) << id;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Compositions, Mp3NumberTags,
    ::testing::Values(
        NumberCase{"TrackThenTotal", {{TrackNumber, "3"}, {TrackTotal, "12"}}, "3/12", ""},
        NumberCase{"TotalThenTrack", {{TrackTotal, "12"}, {TrackNumber, "3"}}, "3/12", ""},
        NumberCase{"TrackTotalAlone", {{TrackTotal, "12"}}, "/12", ""},
        NumberCase{"TrackAlone", {{TrackNumber, "3"}}, "3", ""},
        NumberCase{"DiscThenTotal", {{DiscNumber, "1"}, {DiscTotal, "2"}}, "", "1/2"},
        NumberCase{"TotalThenDisc", {{DiscTotal, "2"}, {DiscNumber, "1"}}, "", "1/2"},
        NumberCase{"DiscTotalAlone", {{DiscTotal, "2"}}, "", "/2"},
        NumberCase{"DiscAlone", {{DiscNumber, "1"}}, "", "1"},
        NumberCase{"TrackAndDiscInterleaved",
                   {{DiscTotal, "2"}, {TrackNumber, "7"}, {DiscNumber, "1"}, {TrackTotal, "9"}},
                   "7/9",
                   "1/2"},
        // A repeat works on the whole current text.
        NumberCase{
            "SecondTrackNumberGoesInFront", {{TrackNumber, "3"}, {TrackNumber, "4"}}, "43", ""},
        NumberCase{
            "SecondTotalGoesBehind", {{TrackTotal, "12"}, {TrackTotal, "13"}}, "/12/13", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Mp3Tags, NumberTextIsLatin1ByteByByteWhileTitlesAreUtf8) {
  const char* e_acute = "3\xC3\xA9";  // "3é" in UTF-8
  encoder.add_text_tag(TrackNumber, e_acute);
  encoder.add_text_tag(Title, e_acute);
  begin();
  Tag tag = emit();
  // Each UTF-8 byte became one Latin-1 character: U+00C3 U+00A9.
  EXPECT_EQ(strings(tag, "TRCK"), std::vector<std::string>{"3\xC3\x83\xC2\xA9"});
  EXPECT_EQ(strings(tag, "TIT2"), std::vector<std::string>{e_acute});
}

TEST_F(Mp3Tags, EachPictureIsItsOwnApicFrame) {
  const std::vector<uint8_t> png = fixtures::solid_png(4, 4, 0xff0000);
  const std::vector<uint8_t> jpeg_like = {0xFF, 0xD8, 0x00, 0x01, 0x02, 0xFF, 0xD9};
  encoder.add_picture("image/png", 3, "Front \xC3\xBC", png.data(), static_cast<int>(png.size()));
  encoder.add_picture("image/jpeg", 3, "", jpeg_like.data(), static_cast<int>(jpeg_like.size()));
  begin();
  Tag tag = emit();
  ASSERT_EQ(tag.count("APIC"), 2u);

  struct Expected {
    std::string mime, description;
    const std::vector<uint8_t>* data;
  } expected[] = {{"image/png", "Front \xC3\xBC", &png}, {"image/jpeg", "", &jpeg_like}};
  for (size_t i = 0; i < 2; ++i) {
    auto pic = id3_reader::parse_picture(*tag.find("APIC", i));
    ASSERT_TRUE(pic.has_value()) << i;
    EXPECT_EQ(pic->encoding, 3);
    EXPECT_EQ(pic->mime_type, expected[i].mime);
    EXPECT_EQ(pic->picture_type, 3);
    EXPECT_EQ(pic->description, expected[i].description);
    EXPECT_EQ(pic->data, *expected[i].data);
  }
  EXPECT_EQ(tag.padding_size, 12u);
}

TEST_F(Mp3Tags, PictureWithANegativeLengthIsLeftOut) {
  const uint8_t byte = 1;
  encoder.add_picture("image/png", 3, "", &byte, -5);
  encoder.add_picture("image/png", 3, "", nullptr, 10);
  begin();
  EXPECT_EQ(emit().count("APIC"), 0u);
}

TEST_F(Mp3Tags, Id3v1SitsAtTheEndOfAKnownSize) {
  encoder.add_text_tag(Title, "Song");
  encoder.add_text_tag(Artist, "Band");
  encoder.add_text_tag(Album, "Record");
  encoder.add_text_tag(Date, "1999");
  encoder.add_text_tag(TrackNumber, "3");
  encoder.add_text_tag(TrackTotal, "12");
  begin();
  emit(5000);
  EXPECT_EQ(buffer.total_size(), 5000u);
  EXPECT_EQ(buffer.tail_offset(), 4872u);
  auto v1 = id3_reader::parse_id3v1(harness::tail_bytes(buffer));
  ASSERT_TRUE(v1.has_value());
  EXPECT_EQ(v1->title, "Song");
  EXPECT_EQ(v1->artist, "Band");
  EXPECT_EQ(v1->album, "Record");
  EXPECT_EQ(v1->year, "1999");
  EXPECT_EQ(v1->track, 3);
}

TEST_F(Mp3Tags, WithoutAKnownSizeTheTailEndsAtThePredictionWhichCountsTheTag) {
  begin();
  const uint64_t before = encoder.predicted_size();
  Tag tag = emit(0);
  const uint64_t predicted = encoder.predicted_size();
  EXPECT_EQ(predicted, before + tag.total_size);
  EXPECT_EQ(buffer.total_size(), predicted);
  EXPECT_EQ(buffer.tail_offset(), predicted - 128);
  // Without a field ID3v1 can hold, libid3tag renders nothing: the tail stays zero bytes.
  EXPECT_EQ(harness::tail_bytes(buffer), std::vector<uint8_t>(128, 0));
}

TEST_F(Mp3Tags, AKnownSizeTooSmallForTheTagsFallsBackToThePrediction) {
  begin();
  emit(100);
  EXPECT_EQ(buffer.total_size(), encoder.predicted_size());
}

TEST_F(Mp3Tags, CompressionStaysOffForLargeFrames) {
  // Long repetitive text is what libid3tag would otherwise compress.
  const std::string long_text(4000, 'a');
  encoder.add_text_tag(Title, long_text.c_str());
  begin();
  Tag tag = emit();
  const id3_reader::Frame* frame = tag.find("TIT2");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->flags & 0x0008, 0);
  EXPECT_EQ(strings(tag, "TIT2"), std::vector<std::string>{long_text});
}

}  // namespace

namespace {

// Version 3 changes only the ID3v2 tag: the ID3v1 tag and the size rule follow its size.
TEST_F(Mp3Tags, Version3RendersThe23TagAndKeepsTheLayout) {
  settings.id3v2_version = 3;
  encoder.add_text_tag(Title, "Song");
  encoder.add_text_tag(Date, "1999-02-03");
  begin();
  const uint64_t before = encoder.predicted_size();
  ASSERT_EQ(encoder.emit_tags(0), 0);
  auto tag = id3_reader::parse_id3v2(harness::head_bytes(buffer));
  ASSERT_TRUE(tag.has_value());
  EXPECT_EQ(tag->version_major, 3);
  EXPECT_EQ(tag->ids(), (std::vector<std::string>{"TSSE", "TIT2", "TYER", "TDAT", "TLEN"}));
  const size_t info = harness::info_frame_length(harness::head_bytes(buffer), tag->total_size);
  EXPECT_GT(info, 0u);
  EXPECT_EQ(tag->total_size + info, buffer.head_size());
  EXPECT_EQ(tag->padding_size, 12u);
  EXPECT_EQ(buffer.total_size(), before + tag->total_size);
  auto v1 = id3_reader::parse_id3v1(harness::tail_bytes(buffer));
  ASSERT_TRUE(v1.has_value());
  EXPECT_EQ(v1->title, "Song");
  EXPECT_EQ(v1->year, "1999");
}

}  // namespace

namespace {

// A comment is one COMM frame (language, empty description, text) in either version, and
// the ID3v1 comment; a second one is left out, as it would need a description of its own.
TEST_F(Mp3Tags, ACommentIsOneCommFrameAndTheId3v1Comment) {
  const struct {
    int version;
    std::vector<uint8_t> body;
  } cases[] = {
      {4, {3, 'e', 'n', 'g', 0, 'R', 'i', 'p', 'p', 'e', 'd', ' ', 0xC3, 0xA9}},
      {3, {0, 'e', 'n', 'g', 0, 'R', 'i', 'p', 'p', 'e', 'd', ' ', 0xE9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    settings.id3v2_version = c.version;
    Buffer bytes;
    Mp3Encoder tagged{&bytes};
    tagged.add_text_tag(CommentText, "Ripped \xC3\xA9");
    tagged.add_text_tag(CommentText, "second");
    ASSERT_EQ(tagged.begin_stream(441000, 44100, 2), 0);
    ASSERT_EQ(tagged.emit_tags(0), 0);
    auto tag = id3_reader::parse_id3v2(harness::head_bytes(bytes));
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->count("COMM"), 1u);
    const id3_reader::Frame* frame = tag->find("COMM");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->body, c.body);
    auto v1 = id3_reader::parse_id3v1(harness::tail_bytes(bytes));
    ASSERT_TRUE(v1.has_value());
    EXPECT_EQ(v1->comment, "Ripped \xE9");
    EXPECT_EQ(bytes.total_size(), tagged.predicted_size());
  }
}

}  // namespace
