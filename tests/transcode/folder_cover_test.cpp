#include "transcode/folder_cover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/log_capture.h"

namespace {

const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0};

struct FindCase {
  const char* name;
  std::vector<std::string> files;  // a trailing "/" makes a directory
  std::string expected;            // empty: no cover
};

class FindFolderCover : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindFolderCover, PicksTheFirstNameInPreferenceOrder) {
  fixtures::TempDir dir;
  for (const std::string& file : GetParam().files) {
    if (file.ends_with("/")) {
      ASSERT_EQ(mkdir((dir / file).c_str(), 0755), 0) << file;
    } else {
      ASSERT_TRUE(fixtures::write_file(dir / file, kJpeg)) << file;
    }
  }
  const std::string found = find_folder_cover(dir / "song.flac");
  EXPECT_EQ(found, GetParam().expected.empty() ? "" : dir / GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Directories, FindFolderCover,
    ::testing::Values(
        FindCase{"None", {"song.flac", "notes.txt"}, ""},
        FindCase{"CoverJpg", {"cover.jpg"}, "cover.jpg"},
        FindCase{"CaseIgnored", {"Cover.JPG"}, "Cover.JPG"},
        FindCase{"JpgBeforePng", {"cover.png", "cover.jpg"}, "cover.jpg"},
        FindCase{"CoverBeforeFolder", {"folder.jpg", "front.jpg", "COVER.PNG"}, "COVER.PNG"},
        FindCase{"FolderBeforeFront", {"front.jpg", "Folder.png"}, "Folder.png"},
        FindCase{"FrontPngLast", {"front.png"}, "front.png"},
        FindCase{"OtherNamesIgnored", {"cover.jpeg", "mycover.jpg", "cover.gif", "cover"}, ""},
        FindCase{"DirectoryIsSkipped", {"cover.jpg/", "folder.png"}, "folder.png"},
        // Names that differ only in case: the same answer whatever the directory order.
        FindCase{"CaseTwinsByByteOrder", {"cover.jpg", "COVER.jpg", "Cover.jpg"}, "COVER.jpg"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindFolderCoverPaths, MissingDirectoryGivesNone) {
  EXPECT_EQ(find_folder_cover("/nonexistent-olvex-dir/song.flac"), "");
}

TEST(PictureMimeType, ComesFromTheFirstBytes) {
  const struct {
    std::vector<uint8_t> bytes;
    std::string mime;
  } cases[] = {
      {kJpeg, "image/jpeg"},
      {fixtures::solid_png(2, 2, 0), "image/png"},
      {{0xFF, 0xD8}, ""},  // too short for the JPEG mark
      {{'G', 'I', 'F', '8', '9', 'a'}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(picture_mime_type(c.bytes), c.mime) << c.bytes.size();
}

TEST(ReadFolderCover, ReadsTheWholeFileWithItsType) {
  fixtures::TempDir dir;
  const std::vector<uint8_t> png = fixtures::solid_png(16, 16, 0x123456);
  ASSERT_TRUE(fixtures::write_file(dir / "cover.jpg", png));  // named .jpg, holds a PNG
  FolderCover cover;
  ASSERT_TRUE(read_folder_cover(dir / "cover.jpg", cover));
  EXPECT_EQ(cover.mime_type, "image/png");
  EXPECT_EQ(cover.data, png);
}

TEST(ReadFolderCover, UnusableFilesAreRefusedAndLogged) {
  fixtures::TempDir dir;
  ASSERT_TRUE(fixtures::write_file(dir / "text.jpg", {'h', 'i'}));
  ASSERT_TRUE(fixtures::write_file(dir / "empty.png", {}));
  ASSERT_TRUE(fixtures::write_file(dir / "huge.jpg", kJpeg));
  ASSERT_EQ(truncate((dir / "huge.jpg").c_str(), off_t{17} << 20), 0);  // sparse
  for (const char* name : {"text.jpg", "empty.png", "huge.jpg", "missing.jpg"}) {
    LogCapture log(Logging::ERROR);
    FolderCover cover;
    EXPECT_FALSE(read_folder_cover(dir / name, cover)) << name;
    EXPECT_TRUE(log.contains("ERROR: Cannot use cover file " + dir / name + ": ")) << log.text();
  }
}

}  // namespace
