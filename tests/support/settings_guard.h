#pragma once

#include "app/settings.h"

// Puts the global settings back as they were when the guard was made, once the work a test
// may have left running in the background (on the encode pool) has ended: that work reads
// the settings too.
class SettingsGuard {
 public:
  SettingsGuard() : saved(settings) {}
  ~SettingsGuard();
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  Settings saved;
};
