// Images with sheets through the real mount: names, lengths, each track's tone, tags
// read back by mutagen, and sizes a copy agrees with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"
#include "support/mp3_decode.h"

namespace {

constexpr int command_timeout_ms = 60000;
constexpr const char* tag_reader_python = "/usr/bin/python3";
constexpr unsigned kRate = 44100;
constexpr unsigned kSamplesPerCdFrame = kRate / 75;

// The image: 440 Hz for 3 s, 880 Hz for 2 s, 1320 Hz for 2 s. Track 2's pregap (INDEX 00
// at 2.5 s... 3 s) stays with track 1.
constexpr double kTones[] = {440.0, 880.0, 1320.0};
constexpr uint64_t kTrackFrames[] = {225, 150, 150};

const std::string kSheetBody =
    "PERFORMER \"Band\"\n"
    "TITLE \"Album Title\"\n"
    "REM DATE 1999\n"
    "REM GENRE \"Rock\"\n"
    "REM COMMENT \"Live at the Café\"\n"
    "FILE \"Album.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"Öne\"\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Two/2\"\n"
    "    INDEX 00 00:02:50\n"
    "    INDEX 01 00:03:00\n"
    "  TRACK 03 AUDIO\n"
    "    PERFORMER \"Guest\"\n"
    "    INDEX 01 00:05:00\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool run(const std::vector<std::string>& argv) {
  std::string output;
  const int status = run_command(argv, command_timeout_ms, &output);
  EXPECT_EQ(status, 0) << argv[0] << ": " << output;
  return status == 0;
}

bool write_text(const std::string& path, const std::string& text) {
  return fixtures::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// The three tones one after the other, as FLAC; extra ffmpeg arguments before the target.
bool write_image(const std::string& path, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> argv = {"ffmpeg", "-loglevel", "error", "-y"};
  for (size_t i = 0; i < 3; ++i) {
    const double seconds = static_cast<double>(kTrackFrames[i]) / 75.0;
    argv.insert(argv.end(), {"-f", "lavfi", "-i",
                             "sine=f=" + std::to_string(kTones[i]) +
                                 ":d=" + std::to_string(seconds) + ":sample_rate=44100"});
  }
  argv.insert(argv.end(), {"-filter_complex", "[0][1][2]concat=n=3:v=0:a=1", "-ac", "2"});
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(path);
  return run(argv);
}

std::vector<std::string> listing(const std::string& directory) {
  std::string output;
  EXPECT_EQ(run_command({"ls", "-1", directory}, command_timeout_ms, &output), 0) << output;
  std::vector<std::string> names;
  for (size_t start = 0; start < output.size();) {
    const size_t end = output.find('\n', start);
    names.push_back(output.substr(start, end - start));
    start = end == std::string::npos ? output.size() : end + 1;
  }
  return names;
}

// Power of one frequency in samples (Goertzel), per sample.
double tone_power(const std::vector<int16_t>& pcm, size_t from, size_t count, double frequency) {
  const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / kRate);
  double s1 = 0, s2 = 0;
  for (size_t i = from; i < from + count; ++i) {
    const double s0 = pcm[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / static_cast<double>(count);
}

std::string tags_of(const std::string& path) {
  static const char* script =
      "import sys\n"
      "from mutagen.id3 import ID3\n"
      "t = ID3(sys.argv[1])\n"
      "print('|'.join(str(t.get(k, '-')) for k in "
      "('TIT2','TPE1','TPE2','TALB','TRCK','TDRC','TCON','TLEN','COMM::eng')))\n";
  std::string output;
  EXPECT_EQ(run_command({tag_reader_python, "-c", script, path}, command_timeout_ms, &output), 0)
      << output;
  return output;
}

class SheetMount : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_FUSE(); }
  fixtures::TempDir source;
};

TEST_F(SheetMount, ImagesAreListedAsTheirTracksWhereTheirSheetFits) {
  const std::vector<std::string> kThree = {"01 - Öne.mp3", "02 - Two_2.mp3", "03 - Track 03.mp3"};
  const std::string cp1252 =
      replaced(replaced(kSheetBody, "Öne", "Caf\xe9"), "Album.wav", "Album.flac");
  const struct {
    const char* name;
    std::function<bool(const std::string&)> make;
    std::vector<std::string> options;
    std::vector<std::string> expected;
    const char* warning = nullptr;  // what the log says of a sheet not used
  } cases[] = {
      {"UTF-8 sheet with BOM, FILE naming a .wav",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") &&
                write_text(d + "/Album.cue", "\xEF\xBB\xBF" + kSheetBody);
       },
       {},
       {kThree[0], kThree[1], kThree[2], "Album.cue"}},
      {"Windows-1252 sheet under another name",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") && write_text(d + "/disc.cue", cp1252);
       },
       {},
       {"01 - Café.mp3", kThree[1], kThree[2], "disc.cue"}},
      {"CUESHEET tag",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac", {"-metadata", "CUESHEET=" + kSheetBody});
       },
       {},
       kThree},
      {"FLAC CUESHEET block",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") && write_text(d + "/in.sheet", kSheetBody) &&
                run({"metaflac", "--import-cuesheet-from=" + d + "/in.sheet", d + "/Album.flac"}) &&
                unlink((d + "/in.sheet").c_str()) == 0;
       },
       {},
       {"01 - Track 01.mp3", "02 - Track 02.mp3", "03 - Track 03.mp3"}},
      {"two images, each with its sheet",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") && write_image(d + "/B.flac") &&
                write_text(d + "/Album.cue", kSheetBody) &&
                write_text(d + "/B.cue", replaced(kSheetBody, "Album.wav", "B.flac"));
       },
       {},
       {"Album - 01 - Öne.mp3", "Album - 02 - Two_2.mp3", "Album - 03 - Track 03.mp3", "Album.cue",
        "B - 01 - Öne.mp3", "B - 02 - Two_2.mp3", "B - 03 - Track 03.mp3", "B.cue"}},
      {"a track name taken by another file",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") && write_text(d + "/Album.cue", kSheetBody) &&
                write_text(d + "/01 - Öne.mp3", "x");
       },
       {},
       {"01 - Öne.mp3", "Album - 01 - Öne.mp3", "Album - 02 - Two_2.mp3",
        "Album - 03 - Track 03.mp3", "Album.cue"}},
      {"garbage sheet",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") &&
                write_text(d + "/Album.cue", "\x01\x02 not a sheet\n");
       },
       {"--log_stderr"},
       {"Album.cue", "Album.mp3"},
       "WARNING: Sheet "},
      {"sheet naming another file",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") &&
                write_text(d + "/Album.cue", replaced(kSheetBody, "Album.wav", "Other.wav"));
       },
       {"--log_stderr"},
       {"Album.cue", "Album.mp3"},
       "it names no file here"},
      {"index beyond the end",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") &&
                write_text(d + "/Album.cue", replaced(kSheetBody, "00:05:00", "00:09:00"));
       },
       {"--log_stderr"},
       {"Album.cue", "Album.mp3"},
       "starts beyond the end of the audio"},
      {"--cuesheets=off",
       [&](const std::string& d) {
         return write_image(d + "/Album.flac") && write_text(d + "/Album.cue", kSheetBody);
       },
       {"--cuesheets=off"},
       {"Album.cue", "Album.mp3"}},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string directory = source / std::to_string(index++);
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    ASSERT_TRUE(c.make(directory));
    Mount mount(directory, c.options);
    ASSERT_TRUE(mount.live()) << mount.output();
    EXPECT_EQ(listing(mount.point()), c.expected);
    // Every listed MP3 can be read whole, at the size it was listed with.
    for (const std::string& name : c.expected) {
      struct stat record = {};
      ASSERT_EQ(stat((mount / name).c_str(), &record), 0) << name;
      EXPECT_EQ(static_cast<off_t>(fixtures::read_file(mount / name).size()), record.st_size)
          << name;
    }
    if (c.warning) {
      EXPECT_NE(mount.output().find(c.warning), std::string::npos) << mount.output();
    }
  }
}

TEST_F(SheetMount, EachTrackHoldsItsOwnAudioLengthAndTags) {
  ASSERT_TRUE(write_image(source / "Album.flac"));
  ASSERT_TRUE(write_text(source / "Album.cue", kSheetBody));
  Mount mount(source.path());
  ASSERT_TRUE(mount.live()) << mount.output();
  const struct {
    const char* name;
    size_t tone;
    const char* tags;
  } tracks[] = {
      {"01 - Öne.mp3", 0, "Öne|Band|Band|Album Title|1/3|1999|Rock|3000|Live at the Café\n"},
      {"02 - Two_2.mp3", 1, "Two/2|Band|Band|Album Title|2/3|1999|Rock|2000|Live at the Café\n"},
      {"03 - Track 03.mp3", 2,
       "Track 03|Guest|Band|Album Title|3/3|1999|Rock|2000|Live at the Café\n"},
  };
  for (const auto& t : tracks) {
    SCOPED_TRACE(t.name);
    const std::vector<uint8_t> bytes = fixtures::read_file(mount / t.name);
    const DecodedMp3 decoded = decode_mp3(bytes);
    ASSERT_TRUE(decoded.clean());
    const uint64_t expected = kTrackFrames[t.tone] * kSamplesPerCdFrame;
    // The tag states the length exactly; the decoded audio adds the encoder's delay and
    // padding, less than two MP3 frames.
    EXPECT_GE(decoded.frames(), expected);
    EXPECT_LT(decoded.frames(), expected + 2 * 1152);
    // In a window inside the track, its own tone far outweighs the others'.
    const size_t window = kRate / 4;
    const size_t from = decoded.frames() / 2 - window / 2;
    const double own = tone_power(decoded.pcm[0], from, window, kTones[t.tone]);
    for (size_t other = 0; other < 3; ++other) {
      if (other == t.tone) continue;
      EXPECT_GT(own, 1000 * tone_power(decoded.pcm[0], from, window, kTones[other]));
    }
    EXPECT_EQ(tags_of(mount / t.name), t.tags);
  }
}

TEST_F(SheetMount, CopyOfTheTracksGivesEveryFileItsStatSize) {
  ASSERT_TRUE(write_image(source / "Album.flac"));
  ASSERT_TRUE(write_text(source / "Album.cue", kSheetBody));
  fixtures::TempDir copy;
  Mount mount(source.path());
  ASSERT_TRUE(mount.live()) << mount.output();
  std::vector<std::pair<std::string, off_t>> sizes;
  for (const std::string& name : listing(mount.point())) {
    struct stat record = {};
    ASSERT_EQ(stat((mount / name).c_str(), &record), 0);
    sizes.emplace_back(name, record.st_size);
  }
  ASSERT_TRUE(run({"cp", "-r", mount.point() + "/.", copy.path()}));
  for (const auto& [name, size] : sizes) {
    struct stat record = {};
    ASSERT_EQ(stat((copy / name).c_str(), &record), 0) << name;
    EXPECT_EQ(record.st_size, size) << name;
  }
}

// A cache directory remembers which files hold no sheet, so that a remount does not read them
// all again; a sheet put inside one since is still found.
TEST_F(SheetMount, ACacheDirectoryRemembersFilesWithoutASheetUntilTheyChange) {
  ASSERT_TRUE(write_image(source / "Album.flac"));
  fixtures::TempDir cache;
  const std::vector<std::string> options = {"--cachedir=" + cache.path(), "--log_stderr",
                                            "--log_maxlevel=DEBUG"};
  const std::string remembered = "/Album.flac, as the cache directory remembers.";
  const std::vector<std::string> tracks = {"01 - Öne.mp3", "02 - Two_2.mp3", "03 - Track 03.mp3"};
  const struct {
    const char* step;
    std::function<bool()> change;
    std::vector<std::string> expected;
    bool from_memory;
  } steps[] = {
      {"first mount", [] { return true; }, {"Album.mp3"}, false},
      {"unchanged", [] { return true; }, {"Album.mp3"}, true},
      {"sheet put inside",
       [&] {
         return run({"metaflac", "--set-tag=CUESHEET=" + kSheetBody, source / "Album.flac"});
       },
       tracks, false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    ASSERT_TRUE(step.change());
    Mount mount(source.path(), options);
    ASSERT_TRUE(mount.live()) << mount.output();
    EXPECT_EQ(listing(mount.point()), step.expected);
    EXPECT_EQ(mount.output().find(remembered) != std::string::npos, step.from_memory)
        << mount.output();
  }
}

TEST_F(SheetMount, ASheetRewrittenInPlaceRenamesAndRetagsTheTracks) {
  ASSERT_TRUE(write_image(source / "Album.flac"));
  ASSERT_TRUE(write_text(source / "Album.cue", kSheetBody));
  Mount mount(source.path());
  ASSERT_TRUE(mount.live()) << mount.output();
  EXPECT_TRUE(tags_of(mount / "01 - Öne.mp3").starts_with("Öne|"));
  // Rewritten in place, the sheet leaves the directory's times as they were.
  ASSERT_TRUE(write_text(source / "Album.cue", replaced(kSheetBody, "Öne", "Uno")));
  EXPECT_EQ(listing(mount.point()), (std::vector<std::string>{"01 - Uno.mp3", "02 - Two_2.mp3",
                                                              "03 - Track 03.mp3", "Album.cue"}));
  EXPECT_TRUE(tags_of(mount / "01 - Uno.mp3").starts_with("Uno|"));
}

}  // namespace

namespace {

// Reads the whole file; the errno of a failed read, else 0.
int read_error(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return errno;
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) {
  }
  const int error = n < 0 ? errno : 0;
  close(fd);
  return error;
}

TEST_F(SheetMount, AnImageCutShortFailsOnlyTheTrackItEndsIn) {
  ASSERT_TRUE(write_image(source / "Album.flac"));
  ASSERT_TRUE(write_text(source / "Album.cue", kSheetBody));
  // The last track spans the last two sevenths of the audio; a tenth less ends inside it.
  struct stat record = {};
  ASSERT_EQ(stat((source / "Album.flac").c_str(), &record), 0);
  ASSERT_EQ(truncate((source / "Album.flac").c_str(), record.st_size * 9 / 10), 0);
  Mount mount(source.path());
  ASSERT_TRUE(mount.live()) << mount.output();
  const struct {
    const char* name;
    int error;
  } cases[] = {{"01 - Öne.mp3", 0}, {"02 - Two_2.mp3", 0}, {"03 - Track 03.mp3", EIO}};
  for (const auto& c : cases) EXPECT_EQ(read_error(mount / c.name), c.error) << c.name;
  EXPECT_EQ(read_error(mount / "01 - Öne.mp3"), 0) << "the mount goes on";
}

}  // namespace
