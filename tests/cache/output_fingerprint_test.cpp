#include "cache/output_fingerprint.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/settings.h"
#include "support/settings_guard.h"

namespace {

struct Change {
  const char* name;
  std::function<void()> apply;
};

// Each setting that shapes the output bytes or size gives another fingerprint.
TEST(OutputFingerprint, ChangesWithEverySettingThatShapesTheOutput) {
  const Change changes[] = {
      {"desttype", [] { settings.desttype = "ogg"; }},
      {"bitrate", [] { settings.bitrate = 320; }},
      {"vbr", [] { settings.vbr = 1; }},
      {"quality", [] { settings.quality = 2; }},
      {"gainmode", [] { settings.gainmode = 2; }},
      {"gainref", [] { settings.gainref = 89.5f; }},
      {"gainref in the last digit", [] { settings.gainref = 89.000008f; }},
      {"statcachesize on", [] { settings.statcachesize = 100; }},
      {"id3v2_version", [] { settings.id3v2_version = 3; }},
      {"covers", [] { settings.covers = "none"; }},
  };
  SettingsGuard guard;
  const std::string base = output_fingerprint();
  for (const Change& change : changes) {
    SettingsGuard inner;
    change.apply();
    EXPECT_NE(output_fingerprint(), base) << change.name;
  }
}

TEST(OutputFingerprint, IgnoresWhatDoesNotShapeTheOutput) {
  SettingsGuard guard;
  settings.statcachesize = 10;
  const std::string on = output_fingerprint();
  settings.statcachesize = 5000;  // only on or off matters
  settings.log_maxlevel = "DEBUG";
  settings.attrcachesize = 7;
  settings.cachesize = 12345;
  settings.debug = 1;
  EXPECT_EQ(output_fingerprint(), on);
}

}  // namespace
