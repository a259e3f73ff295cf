// The ID3v2 version and covers options through the real mount, read back with a real
// tag reader and with the test's own ID3 parser.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/id3_reader.h"
#include "support/mount.h"
#include "support/mp3_decode.h"

namespace {

constexpr int command_timeout_ms = 60000;
// Debian's interpreter, the one its python3-mutagen package installs into.
constexpr const char* tag_reader_python = "/usr/bin/python3";

// Every frame as mutagen sees it without translating 2.3 to 2.4: id, encoding, texts.
constexpr const char* dump_script =
    "import sys\n"
    "from mutagen.id3 import ID3\n"
    "t = ID3(sys.argv[1], translate=False)\n"
    "print('version=%d.%d.%d' % t.version)\n"
    "for f in sorted(t.values(), key=lambda f: f.HashKey):\n"
    "    if f.FrameID == 'APIC':\n"
    "        print('APIC %d %s %d %s %d' % (f.encoding, f.mime, f.type, f.desc, len(f.data)))\n"
    "    else:\n"
    "        print('%s %d %s' % (f.FrameID, f.encoding, '|'.join(str(x) for x in f.text)))\n";

std::string dump_tags(const std::string& path) {
  std::string output;
  EXPECT_EQ(run_command({tag_reader_python, "-c", dump_script, path}, command_timeout_ms, &output),
            0)
      << output;
  return output;
}

off_t size_of(const std::string& path) {
  struct stat record = {};
  EXPECT_EQ(stat(path.c_str(), &record), 0) << path;
  return record.st_size;
}

class MountedOutputOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    spec.total_samples = 44100;
    fixtures::Picture picture;
    picture.data = png;
    picture.description = "front";
    ASSERT_TRUE(fixtures::write_flac(source / "song.flac", spec,
                                     {"TITLE=First Song", "ARTIST=A", "ARTIST=B", "DATE=2004-05-17",
                                      "TRACKNUMBER=3", "TRACKTOTAL=12"},
                                     {picture}));
    ASSERT_TRUE(fixtures::write_vorbis(
        source / "kanji.ogg", spec,
        {"TITLE=\xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xAE\xE6\xAD\x8C", "ALBUM=Caf\xC3\xA9"}));
  }

  void start(const std::vector<std::string>& options) {
    mount = std::make_unique<Mount>(source.path(), options);
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  fixtures::AudioSpec spec;
  const std::vector<uint8_t> png = fixtures::solid_png(8, 8, 0x3366cc);
  fixtures::TempDir source;
  std::unique_ptr<Mount> mount;
};

TEST_F(MountedOutputOptions, Version3IsWhatATagReaderSeesAsID3v23) {
  start({"--id3v2_version=3"});
  EXPECT_EQ(dump_tags(*mount / "song.mp3"),
            "version=2.3.0\n"
            "APIC 0 image/png 3 front " +
                std::to_string(png.size()) +
                "\n"
                "TDAT 0 1705\n"
                "TIT2 0 First Song\n"
                "TLEN 0 1000\n"
                "TPE1 0 A/B\n"
                "TRCK 0 3/12\n"
                "TSSE 0 OLVEX\n"
                "TYER 0 2004\n");
  // A title outside Latin-1 is UTF-16 (encoding 1); the album beside it stays Latin-1.
  EXPECT_EQ(dump_tags(*mount / "kanji.mp3"),
            "version=2.3.0\n"
            "TALB 0 Caf\xC3\xA9\n"
            "TIT2 1 \xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xAE\xE6\xAD\x8C\n"
            "TLEN 0 1000\n"
            "TSSE 0 OLVEX\n");

  for (const char* name : {"song.mp3", "kanji.mp3"}) {
    const auto bytes = fixtures::read_file(*mount / name);
    EXPECT_EQ(static_cast<off_t>(bytes.size()), size_of(*mount / name)) << name;
    auto tag = id3_reader::parse_id3v2(bytes);
    ASSERT_TRUE(tag.has_value()) << name;
    EXPECT_EQ(tag->version_major, 3) << name;
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG") << name;
    EXPECT_TRUE(decode_mp3(bytes).clean()) << name;
  }
}

TEST_F(MountedOutputOptions, TheDefaultStillWritesID3v24) {
  start({});
  EXPECT_EQ(dump_tags(*mount / "song.mp3"),
            "version=2.4.0\n"
            "APIC 3 image/png 3 front " +
                std::to_string(png.size()) +
                "\n"
                "TDRC 3 2004-05-17\n"
                "TIT2 3 First Song\n"
                "TLEN 3 1000\n"
                "TPE1 3 A|B\n"
                "TRCK 3 3/12\n"
                "TSSE 3 OLVEX\n");
}

// An album with a cover file beside a source with its own picture and one without, and
// a second album whose cover file is no image.
TEST_F(MountedOutputOptions, CoversModesDecideThePictures) {
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 9, 8, 7, 6, 5, 0xFF, 0xD9};
  ASSERT_EQ(mkdir((source / "album").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((source / "damaged").c_str(), 0755), 0);
  fixtures::Picture own;
  own.data = png;
  ASSERT_TRUE(fixtures::write_flac(source / "album/own.flac", spec, {"TITLE=Own"}, {own}));
  ASSERT_TRUE(fixtures::write_flac(source / "album/bare.flac", spec, {"TITLE=Bare"}));
  ASSERT_TRUE(fixtures::write_file(source / "album/Cover.JPG", jpeg));
  ASSERT_TRUE(fixtures::write_flac(source / "damaged/bare.flac", spec, {"TITLE=Bare"}));
  ASSERT_TRUE(fixtures::write_file(source / "damaged/cover.png", {'n', 'o'}));

  const struct {
    std::vector<std::string> options;
    const char* file;
    std::vector<uint8_t> picture;  // empty: no APIC frame
  } cases[] = {
      {{}, "album/own.mp3", png},
      {{}, "album/bare.mp3", {}},
      {{"--covers=folder"}, "album/own.mp3", png},
      {{"--covers=folder"}, "album/bare.mp3", jpeg},
      {{"--covers=folder"}, "damaged/bare.mp3", {}},
      {{"--covers=folder", "--id3v2_version=3"}, "album/bare.mp3", jpeg},
      {{"-o", "covers=none"}, "album/own.mp3", {}},
  };
  for (const auto& c : cases) {
    const std::string label =
        c.file + std::string(" with ") + (c.options.empty() ? "defaults" : c.options.back());
    start(c.options);
    const auto bytes = fixtures::read_file(*mount / c.file);
    // The announced size already counted the picture.
    EXPECT_EQ(static_cast<off_t>(bytes.size()), size_of(*mount / c.file)) << label;
    auto tag = id3_reader::parse_id3v2(bytes);
    ASSERT_TRUE(tag.has_value()) << label;
    if (c.picture.empty()) {
      EXPECT_EQ(tag->count("APIC"), 0u) << label;
    } else {
      ASSERT_EQ(tag->count("APIC"), 1u) << label;
      auto picture = id3_reader::parse_picture(*tag->find("APIC"));
      ASSERT_TRUE(picture.has_value()) << label;
      EXPECT_EQ(picture->picture_type, 3) << label;
      EXPECT_EQ(picture->mime_type, c.picture == png ? "image/png" : "image/jpeg") << label;
      EXPECT_EQ(picture->data, c.picture) << label;
    }
    EXPECT_EQ(mount->unmount(), 0) << label << "\n" << mount->output();
  }
}

// The CBR information frame reaches a player through the mount, whatever the tag version and
// covers; a decoder that honours it gives back exactly the source's samples.
TEST_F(MountedOutputOptions, GaplessFilesDecodeToTheSourcesLength) {
  const struct {
    std::vector<std::string> options;
    bool gapless;
  } cases[] = {{{}, true}, {{"--id3v2_version=3"}, true}, {{"--gapless=off"}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "defaults" : c.options[0]);
    start(c.options);
    const std::vector<uint8_t> bytes = fixtures::read_file(*mount / "song.mp3");
    EXPECT_EQ(static_cast<off_t>(bytes.size()), size_of(*mount / "song.mp3"));
    const DecodedMp3 decoded = decode_mp3(bytes);
    ASSERT_TRUE(decoded.clean());
    if (c.gapless) {
      EXPECT_EQ(decoded.frames(), spec.total_samples);
    } else {
      EXPECT_GE(decoded.frames(), spec.total_samples + 1105);  // LAME's delay and the decoder's
    }
    EXPECT_EQ(mount->unmount(), 0);
  }
}

}  // namespace
