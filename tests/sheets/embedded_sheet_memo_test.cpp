// How looking for a sheet inside an image uses what a listing remembers: a file remembered
// to hold none is not read, and only a file read whole is remembered.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sheets/image_sheet.h"
#include "support/fixtures.h"

namespace {

const std::string kSheet =
    "FILE \"disc.flac\" WAVE\n"
    "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n    INDEX 01 00:00:50\n";

class FakeMemo final : public EmbeddedSheetMemo {
 public:
  explicit FakeMemo(std::set<std::string> none) : none(std::move(none)) {}
  bool holds_none(const std::string& name) override { return none.count(name) != 0; }
  void found_none(const std::string& name) override { found.push_back(name); }

  std::set<std::string> none;
  std::vector<std::string> found;
};

}  // namespace

TEST(EmbeddedSheetMemo, SkipsWhatItRemembersAndRemembersOnlyWhatWasRead) {
  fixtures::TempDir directory;
  fixtures::AudioSpec spec;
  spec.total_samples = 2 * spec.sample_rate;
  ASSERT_TRUE(fixtures::write_flac(directory / "plain.flac", spec));
  ASSERT_TRUE(fixtures::write_flac(directory / "disc.flac", spec, {"CUESHEET=" + kSheet}));
  ASSERT_TRUE(fixtures::write_file(directory / "broken.flac", {'f', 'L', 'a', 'C', 0x80}));
  const struct {
    const char* image;
    std::set<std::string> remembered;
    bool sheet;
    std::vector<std::string> found;
  } cases[] = {
      {"plain.flac", {}, false, {"plain.flac"}},
      {"disc.flac", {}, true, {}},
      // Remembered as holding none: not read, so the sheet it now holds is not seen.
      {"disc.flac", {"disc.flac"}, false, {}},
      // Cut short inside its metadata: not certain, so not remembered.
      {"broken.flac", {}, false, {}},
      {"missing.flac", {}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    FakeMemo memo(c.remembered);
    const DirectorySheets sheets = read_directory_sheets(
        directory.path(), {"plain.flac", "disc.flac", "broken.flac", "missing.flac"}, &memo);
    EXPECT_EQ(locate_image_sheet(sheets, c.image).has_value(), c.sheet);
    EXPECT_EQ(memo.found, c.found);
  }
}
