// The start-up sequence, run through the real program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/usage.h"
#include "program_run.h"
#include "support/fixtures.h"

namespace {

using Args = std::vector<std::string>;

const std::string usage_text = "Usage: " OLVEX_BINARY " [OPTION]... IN_DIR OUT_DIR\n" +
                               std::string(option_help) + "\n" + std::string(extended_option_help) +
                               "\n";
const std::string hint =
    "Hint: Did you specify bitrate using the old syntax instead of the new -b?\n\n";
const std::string logging_failed =
    "Failed to initialize logging module.\nMaybe log file couldn't be opened for writing?\n";

// A source directory, a plain file, a link to the directory and a mount point
// that no case ever reaches.
class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fixtures::write_file(file, {1, 2, 3}));
    ASSERT_EQ(mkdir(source.c_str(), 0755), 0);
    ASSERT_EQ(symlink(source.c_str(), link.c_str()), 0);
  }
  fixtures::TempDir dir;
  const std::string source = dir / "music";
  const std::string file = dir / "song.flac";
  const std::string link = dir / "link";
  const std::string missing = dir / "missing";
};

TEST_F(Startup, FailuresInOrder) {
  const struct {
    Args args;
    std::string err;
    bool usage;
  } cases[] = {
      {{}, "No valid flacdir specified.\n\n", true},
      {{"music", "/mnt"}, "flacdir must be an absolute path.\n\n", true},
      {{file, "/mnt"}, "flacdir is not a valid directory: " + file + "\n" + hint, true},
      {{missing, "/mnt"}, "flacdir is not a valid directory: " + missing + "\n" + hint, true},
      {{source, "/mnt", "--quality=10"}, "Invalid encoding quality value: 10\n\n", true},
      {{source, "/mnt", "-o", "quality=-1"}, "Invalid encoding quality value: -1\n\n", true},
      {{source, "/mnt", "--desttype=MP3"}, "No encoder available for desttype: MP3\n\n", true},
      {{source, "/mnt", "-o", "desttype=ogg"}, "No encoder available for desttype: ogg\n\n", true},
      {{source, "/mnt", "--id3v2_version=5"}, "Invalid ID3v2 version: 5\n\n", true},
      {{source, "/mnt", "-o", "id3v2_version=2"}, "Invalid ID3v2 version: 2\n\n", true},
      {{source, "/mnt", "--covers=Folder"}, "Invalid covers mode: Folder\n\n", true},
      {{source, "/mnt", "-o", "covers="}, "Invalid covers mode: \n\n", true},
      {{source, "/mnt", "--threads=257"}, "Invalid thread count: 257\n\n", true},
      // Each check runs only once the earlier ones have passed.
      {{"--logfile=" + missing + "/x.log"}, logging_failed, false},
      {{"--logfile=" + missing + "/x.log", "music"}, logging_failed, false},
      {{"--log_maxlevel=debug", source, "/mnt"},
       "Invalid logging level string: debug\n" + logging_failed,
       false},
      {{"music", "--quality=10"}, "flacdir must be an absolute path.\n\n", true},
      {{file, "--quality=10"}, "flacdir is not a valid directory: " + file + "\n" + hint, true},
      {{source, "--quality=10", "--desttype=ogg"}, "Invalid encoding quality value: 10\n\n", true},
      // An unusable cache directory is named on one line, without the usage text.
      {{source, "/mnt", "--cachedir=" + file},
       "Cache directory is not usable: " + file + " (Not a directory)\n",
       false},
      {{source, "/mnt", "-o", "cachedir=" + file + "/cache"},
       "Cache directory is not usable: " + file + "/cache (Not a directory)\n",
       false},
      {{source, "/mnt", "--cachesize=lots"},
       "Invalid cache size: lots\nError parsing options.\n\n",
       true},
      {{source, "--desttype=ogg", "--id3v2_version=5"},
       "No encoder available for desttype: ogg\n\n",
       true},
  };
  for (const auto& c : cases) {
    const ProgramRun run = run_program(OLVEX_BINARY, c.args);
    const std::string label = c.args.empty() ? "(no arguments)" : c.args[0];
    EXPECT_FALSE(run.timed_out) << label;
    EXPECT_EQ(run.exit_status, 1) << label;
    EXPECT_EQ(run.err, c.err) << label;
    EXPECT_EQ(run.out, c.usage ? usage_text : "") << label;
  }
}

TEST_F(Startup, UnparsableOptionReportsAndPrintsUsage) {
  const ProgramRun run = run_program(OLVEX_BINARY, {"--quality=abc", source, "/mnt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(run.err.ends_with("Error parsing options.\n\n")) << run.err;
  EXPECT_EQ(run.out, usage_text);
}

// With IN_DIR but no OUT_DIR every check passes and the FUSE library fails.
TEST_F(Startup, AcceptedSettingsReachTheFuseLibrary) {
  for (const Args& args :
       {Args{source}, Args{link}, Args{source, "--quality=9"},
        Args{source, "--quality=0", "--desttype=mp3"},
        Args{source, "--id3v2_version=3", "--covers=folder"},
        Args{source, "-o", "id3v2_version=4,covers=none"}, Args{source, "--covers=embedded"}}) {
    const ProgramRun run = run_program(OLVEX_BINARY, args);
    EXPECT_EQ(run.exit_status, 1) << args.back();
    EXPECT_EQ(run.err, "fuse: missing mountpoint parameter\n") << args.back();
    EXPECT_EQ(run.out, "") << args.back();
  }
}

TEST_F(Startup, DebugModeLogsVersionAndOptionsOnStderr) {
  const ProgramRun run =
      run_program(OLVEX_BINARY, {"-d", "--log_maxlevel=ERROR", "-b", "192", source});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find(" DEBUG: olvex version: 1.1.1\nLAME library version: "), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nFUSE library version: 2.9\nFFmpeg library versions: libavformat "),
            std::string::npos)
      << run.err;
  EXPECT_NE(
      run.err.find(" DEBUG: OLVEX options:\nbasepath:       " + source + "\nbitrate:        192\n"),
      std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nlog_maxlevel:   DEBUG\nlog_stderr:     1\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nvbr:            0\n"), std::string::npos) << run.err;
}

TEST_F(Startup, LogFileReceivesTheStartupMessages) {
  const std::string log = dir / "olvex.log";
  const ProgramRun run =
      run_program(OLVEX_BINARY, {"--logfile=" + log, "-o", "log_maxlevel=DEBUG,log_format=%L|%M",
                                 "--statcachesize=7", source});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "fuse: missing mountpoint parameter\n");
  const auto bytes = fixtures::read_file(log);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("DEBUG|olvex version: 1.1.1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nDEBUG|OLVEX options:\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nlog_format:     %L|%M\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nlogfile:        " + log + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nstatcachesize:  7\nvbr:            0\n"), std::string::npos) << text;
}

TEST_F(Startup, WithoutLogOptionsNothingIsLogged) {
  const ProgramRun run = run_program(OLVEX_BINARY, {"--log_maxlevel=DEBUG", source});
  EXPECT_EQ(run.err, "fuse: missing mountpoint parameter\n");
  EXPECT_EQ(run.out, "");
}

}  // namespace
