#include "app/options_summary.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/settings.h"
#include "support/settings_guard.h"

namespace {

std::string summary() {
  std::ostringstream out;
  write_options_summary(out);
  return out.str();
}

TEST(OptionsSummary, DefaultsWithAlignedLabels) {
  SettingsGuard guard;
  settings = default_settings;
  settings.basepath = "/music";
  EXPECT_EQ(summary(),
            "OLVEX options:\n"
            "basepath:       /music\n"
            "bitrate:        128\n"
            "desttype:       mp3\n"
            "gainmode:       1\n"
            "gainref:        89\n"
            "log_format:     [%T] tid=%I %L: %M\n"
            "log_maxlevel:   INFO\n"
            "log_stderr:     0\n"
            "log_syslog:     0\n"
            "logfile:        \n"
            "quality:        5\n"
            "statcachesize:  0\n"
            "vbr:            0\n"
            "attrcachesize:  50000\n"
            "cachedir:       \n"
            "cachesize:      1073741824\n"
            "id3v2_version:  4\n"
            "covers:         embedded\n"
            "segments:       1\n"
            "threads:        0\n"
            "readahead:      60\n"
            "gapless:        1\n"
            "cuesheets:      1");
}

TEST(OptionsSummary, ShowsChangedValues) {
  SettingsGuard guard;
  settings = default_settings;
  settings.basepath = "/m";
  settings.gainref = 92.25f;
  settings.statcachesize = 4000000000u;
  settings.quality = -1;
  settings.logfile = "/var/log/o.log";
  const std::string text = summary();
  EXPECT_NE(text.find("\ngainref:        92.25\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nstatcachesize:  4000000000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nquality:        -1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nlogfile:        /var/log/o.log\n"), std::string::npos) << text;
}

}  // namespace
