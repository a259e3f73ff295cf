#include "app/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/usage.h"
#include "program_run.h"
#include "support/settings_guard.h"

namespace {

// Runs the option parser over a fresh argument list, as start-up does, and
// keeps what it leaves for the FUSE library.
class ParseOptions : public ::testing::Test {
 protected:
  ~ParseOptions() override {
    // The parser gives text options a heap copy that the program never frees.
    for (auto field : {&Settings::desttype, &Settings::log_format, &Settings::log_maxlevel,
                       &Settings::logfile}) {
      if (settings.*field != default_settings.*field) std::free(const_cast<char*>(settings.*field));
    }
  }

  int parse(std::vector<std::string> arguments) {
    storage = std::move(arguments);
    storage.insert(storage.begin(), "olvex");
    std::vector<char*> argv;
    for (auto& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(storage.size()), argv.data());
    const int result = fuse_opt_parse(&args, &settings, option_table, handle_option);
    passed_on.assign(args.argv + 1, args.argv + args.argc);
    fuse_opt_free_args(&args);
    return result;
  }

  SettingsGuard guard;
  std::vector<std::string> storage;  // basepath points into it
  std::vector<std::string> passed_on;
};

using Args = std::vector<std::string>;

TEST_F(ParseOptions, FirstNonOptionIsTheSourceTheRestGoToFuse) {
  ASSERT_EQ(parse({"/music", "/mnt", "/third"}), 0);
  EXPECT_STREQ(settings.basepath, "/music");
  EXPECT_EQ(passed_on, (Args{"/mnt", "/third"}));
}

TEST_F(ParseOptions, NoNonOptionLeavesBasepathAbsent) {
  ASSERT_EQ(parse({"-b", "160"}), 0);
  EXPECT_EQ(settings.basepath, nullptr);
  EXPECT_TRUE(passed_on.empty());
}

TEST_F(ParseOptions, IntegerSettings) {
  const struct {
    Args args;
    int Settings::*field;
    int expected;
  } cases[] = {
      {{"-b", "192"}, &Settings::bitrate, 192},
      {{"-b192"}, &Settings::bitrate, 192},
      {{"-o", "bitrate=192"}, &Settings::bitrate, 192},
      {{"-b", "128", "-b", "320"}, &Settings::bitrate, 320},
      {{"--quality=9"}, &Settings::quality, 9},
      {{"-o", "quality=0"}, &Settings::quality, 0},
      {{"--quality=-1"}, &Settings::quality, -1},
      {{"--quality=10"}, &Settings::quality, 10},
      {{"--gainmode=2"}, &Settings::gainmode, 2},
      {{"-o", "gainmode=0"}, &Settings::gainmode, 0},
      {{"--vbr"}, &Settings::vbr, 1},
      {{"-o", "vbr"}, &Settings::vbr, 1},
      {{"--log_stderr"}, &Settings::log_stderr, 1},
      {{"-o", "log_stderr"}, &Settings::log_stderr, 1},
      {{"--log_syslog"}, &Settings::log_syslog, 1},
      {{"-o", "log_syslog"}, &Settings::log_syslog, 1},
      {{"--id3v2_version=3"}, &Settings::id3v2_version, 3},
      {{"-o", "id3v2_version=3"}, &Settings::id3v2_version, 3},
  };
  for (const auto& c : cases) {
    settings = default_settings;
    ASSERT_EQ(parse(c.args), 0) << c.args[0];
    EXPECT_EQ(settings.*c.field, c.expected) << c.args[0] << " " << c.args.back();
    EXPECT_TRUE(passed_on.empty()) << c.args[0];
  }
}

TEST_F(ParseOptions, CommaListSetsSeveral) {
  ASSERT_EQ(parse({"-o", "vbr,quality=2,statcachesize=500,gainref=92.5"}), 0);
  EXPECT_EQ(settings.vbr, 1);
  EXPECT_EQ(settings.quality, 2);
  EXPECT_EQ(settings.statcachesize, 500u);
  EXPECT_FLOAT_EQ(settings.gainref, 92.5f);
  EXPECT_TRUE(passed_on.empty());
}

TEST_F(ParseOptions, CacheSettings) {
  ASSERT_EQ(parse({"--attrcachesize=0", "-o", "cachedir=/var/cache/olvex,cachesize=512M"}), 0);
  EXPECT_EQ(settings.attrcachesize, 0u);
  EXPECT_STREQ(settings.cachedir, "/var/cache/olvex");
  EXPECT_EQ(settings.cachesize, uint64_t{512} << 20);
  std::free(const_cast<char*>(settings.cachedir));
  settings.cachedir = default_settings.cachedir;
  ASSERT_EQ(parse({"--cachesize=2G", "-o", "covers=folder"}), 0);
  EXPECT_EQ(settings.cachesize, uint64_t{2} << 30);
  EXPECT_STREQ(settings.covers, "folder");
  std::free(const_cast<char*>(settings.covers));
  settings.covers = default_settings.covers;
  EXPECT_TRUE(passed_on.empty());
}

TEST_F(ParseOptions, SpeedAndListingSettings) {
  ASSERT_EQ(
      parse({"--segments=off", "--threads=8", "-o", "readahead=5,gapless=off", "--cuesheets=off"}),
      0);
  EXPECT_EQ(settings.segments, 0);
  EXPECT_EQ(settings.threads, 8u);
  EXPECT_EQ(settings.readahead, 5u);
  EXPECT_EQ(settings.gapless, 0);
  EXPECT_EQ(settings.cuesheets, 0);
  ASSERT_EQ(parse({"-o", "segments=on,gapless=on,cuesheets=on"}), 0);
  EXPECT_EQ(settings.segments, 1);
  EXPECT_EQ(settings.gapless, 1);
  EXPECT_EQ(settings.cuesheets, 1);
  EXPECT_TRUE(passed_on.empty());
}

TEST(ByteSize, SuffixesArePowersOf1024AndJunkIsRefused) {
  const struct {
    const char* text;
    bool ok;
    uint64_t bytes;
  } cases[] = {
      {"0", true, 0},
      {"1048576", true, 1048576},
      {"512K", true, 512 << 10},
      {"100m", true, uint64_t{100} << 20},
      {"1G", true, uint64_t{1} << 30},
      {"17179869183G", true, uint64_t{17179869183} << 30},
      {"17179869184G", false, 0},  // past 64 bits
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"-1", false, 0},
      {" 1", false, 0},
      {"1T", false, 0},
      {"1KB", false, 0},
      {"G", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t bytes = 7;
    EXPECT_EQ(parse_byte_size(c.text, bytes), c.ok) << c.text;
    EXPECT_EQ(bytes, c.ok ? c.bytes : 7) << c.text;
  }
}

TEST_F(ParseOptions, TextSettingsAreStoredUnchanged) {
  ASSERT_EQ(parse({"--desttype=ogg", "-o", "log_format=%L %M", "--log_maxlevel=debug",
                   "--logfile=/tmp/x.log"}),
            0);
  EXPECT_STREQ(settings.desttype, "ogg");
  EXPECT_STREQ(settings.log_format, "%L %M");
  EXPECT_STREQ(settings.log_maxlevel, "debug");
  EXPECT_STREQ(settings.logfile, "/tmp/x.log");
}

TEST_F(ParseOptions, DebugIsSetAndAlsoPassedOn) {
  const struct {
    Args args;
    Args passed;
  } cases[] = {
      {{"-d"}, {"-d"}},
      {{"-o", "debug"}, {"-o", "debug"}},
  };
  for (const auto& c : cases) {
    settings = default_settings;
    ASSERT_EQ(parse(c.args), 0);
    EXPECT_EQ(settings.debug, 1) << c.args.back();
    EXPECT_EQ(passed_on, c.passed) << c.args.back();
  }
}

TEST_F(ParseOptions, UnknownOptionsGoToFuseUnchanged) {
  ASSERT_EQ(parse({"/music", "-f", "-o", "allow_other,vbr", "/mnt"}), 0);
  EXPECT_EQ(settings.vbr, 1);
  // The parser gathers the -o items it keeps into one list in front.
  EXPECT_EQ(passed_on, (Args{"-o", "allow_other", "-f", "/mnt"}));
}

TEST_F(ParseOptions, UnconvertibleParameterFails) {
  for (const Args& args :
       {Args{"--quality=abc"}, Args{"-o", "bitrate=fast"}, Args{"--statcachesize=x"},
        Args{"--gainref=loud"}, Args{"--cachesize=lots"}, Args{"-o", "cachesize=1T"},
        Args{"--segments=yes"}, Args{"-o", "gapless=1"}, Args{"--cuesheets="},
        Args{"--threads=many"}}) {
    EXPECT_NE(parse(args), 0) << args.back();
  }
}

TEST(VersionOption, PrintsSixLinesAndExitsZeroBeforeAnyCheck) {
  for (const auto& args : {Args{"-V"}, Args{"--version", "--quality=99"}, Args{"relative", "-V"}}) {
    const ProgramRun run = run_program(OLVEX_BINARY, args);
    EXPECT_EQ(run.exit_status, 0) << args[0];
    EXPECT_EQ(run.err, "") << args[0];
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 6) << run.out;
    EXPECT_EQ(run.out.rfind("olvex version: 1.1.1\nLAME library version: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\nFLAC library version: "), std::string::npos);
    EXPECT_NE(run.out.find("\nXiph.Org libVorbis "), std::string::npos);
    EXPECT_NE(run.out.find("\nFUSE library version: 2.9\nFFmpeg library versions: libavformat "),
              std::string::npos)
        << run.out;
  }
}

TEST(HelpOption, PrintsUsageThenFuseOptionsAndExitsOne) {
  for (const auto& args : {Args{"--help"}, Args{"-h", "/music", "/mnt"}}) {
    const ProgramRun run = run_program(OLVEX_BINARY, args);
    EXPECT_EQ(run.exit_status, 1) << args[0];
    EXPECT_EQ(run.out, "Usage: " OLVEX_BINARY " [OPTION]... IN_DIR OUT_DIR\n" +
                           std::string(option_help) + "\n" + std::string(extended_option_help) +
                           "\n")
        << args[0];
    // The FUSE library lists its own options, without a usage line of its own.
    EXPECT_NE(run.err.find("FUSE options:"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("usage:"), std::string::npos) << run.err;
  }
}

}  // namespace
