#include <gtest/gtest.h>

#include "decoders/decoder.h"
#include "decoders/ffmpeg_decoder.h"
#include "decoders/flac_decoder.h"
#include "decoders/vorbis_decoder.h"

namespace {

enum class Kind { None, Flac, Vorbis, Ffmpeg };

struct ExtensionCase {
  const char* extension;
  Kind kind;
  const char* lowered;
};

const ExtensionCase kExtensions[] = {
    {"flac", Kind::Flac, "flac"},   {"FLAC", Kind::Flac, "flac"},   {"Flac", Kind::Flac, "flac"},
    {"ogg", Kind::Vorbis, "ogg"},   {"OGG", Kind::Vorbis, "ogg"},   {"Ogg", Kind::Vorbis, "ogg"},
    {"oga", Kind::Vorbis, "oga"},   {"OgA", Kind::Vorbis, "oga"},   {"fla", Kind::None, "fla"},
    {"ogv", Kind::None, "ogv"},     {"MP3", Kind::None, "mp3"},     {"", Kind::None, ""},
    {"flac ", Kind::None, "flac "}, {"flacc", Kind::None, "flacc"}, {"opus", Kind::Ffmpeg, "opus"},
    {"OPUS", Kind::Ffmpeg, "opus"}, {"wv", Kind::Ffmpeg, "wv"},     {"WV", Kind::Ffmpeg, "wv"},
    {"m4a", Kind::Ffmpeg, "m4a"},   {"M4A", Kind::Ffmpeg, "m4a"},   {"ape", Kind::Ffmpeg, "ape"},
    {"Ape", Kind::Ffmpeg, "ape"},   {"wav", Kind::Ffmpeg, "wav"},   {"WAV", Kind::Ffmpeg, "wav"},
    {"aif", Kind::Ffmpeg, "aif"},   {"AIFF", Kind::Ffmpeg, "aiff"}, {"tta", Kind::Ffmpeg, "tta"},
    {"TtA", Kind::Ffmpeg, "tta"},   {"m4b", Kind::None, "m4b"},     {"wave", Kind::None, "wave"},
    {"aifc", Kind::None, "aifc"},   {"mp4", Kind::None, "mp4"},     {"wma", Kind::Ffmpeg, "wma"},
    {"WMA", Kind::Ffmpeg, "wma"},   {"mka", Kind::Ffmpeg, "mka"},   {"WebM", Kind::Ffmpeg, "webm"},
    {"aac", Kind::Ffmpeg, "aac"},   {"mpc", Kind::Ffmpeg, "mpc"},   {"TAK", Kind::Ffmpeg, "tak"},
    {"shn", Kind::Ffmpeg, "shn"},   {"dsf", Kind::Ffmpeg, "dsf"},   {"DFF", Kind::Ffmpeg, "dff"},
    {"ac3", Kind::Ffmpeg, "ac3"},   {"dts", Kind::Ffmpeg, "dts"},   {"wmv", Kind::None, "wmv"},
    {"mkv", Kind::None, "mkv"},
};

TEST(MakeDecoder, PicksTheDecoderByLowerCasedExtension) {
  for (const ExtensionCase& c : kExtensions) {
    SCOPED_TRACE(c.extension);
    std::string extension = c.extension;
    EXPECT_EQ(has_decoder(extension), c.kind != Kind::None);
    std::unique_ptr<Decoder> decoder = make_decoder(extension);
    EXPECT_EQ(extension, c.lowered);
    switch (c.kind) {
      case Kind::None:
        EXPECT_EQ(decoder, nullptr);
        break;
      case Kind::Flac:
        EXPECT_NE(dynamic_cast<FlacDecoder*>(decoder.get()), nullptr);
        break;
      case Kind::Vorbis:
        EXPECT_NE(dynamic_cast<VorbisDecoder*>(decoder.get()), nullptr);
        break;
      case Kind::Ffmpeg:
        EXPECT_NE(dynamic_cast<FfmpegDecoder*>(decoder.get()), nullptr);
        break;
    }
  }
}

TEST(SourceRank, LosslessBeforeLossyInOneFixedOrderAnyCase) {
  const char* const order[] = {"flac", "WV",  "ape", "tak",  "tta", "wav",
                               "aiff", "m4a", "ogg", "opus", "mpc", "Wma"};
  for (size_t i = 1; i < std::size(order); ++i) {
    EXPECT_LT(source_rank(order[i - 1]), source_rank(order[i])) << order[i - 1] << " " << order[i];
  }
  EXPECT_EQ(source_rank("FLAC"), source_rank("flac"));
  for (const char* none : {"mp3", "txt", ""}) EXPECT_EQ(source_rank(none), -1) << none;
  for (const ExtensionCase& c : kExtensions) {
    EXPECT_EQ(source_rank(c.extension) >= 0, c.kind != Kind::None) << c.extension;
  }
}

TEST(MakeDecoder, ADecoderMadeOnlyAsAPredicateIsDestroyedSafely) {
  // No decoder touches a file before open_source, so destroying one unopened must be harmless.
  for (const char* name : {"flac", "ogg", "wv"}) {
    std::string extension = name;
    auto decoder = make_decoder(extension);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->source_mtime(), 0);
  }
}

}  // namespace
