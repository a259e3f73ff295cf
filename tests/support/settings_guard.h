#pragma once

#include "app/settings.h"

// Puts the global settings back as they were when the guard was made.
class SettingsGuard {
 public:
  SettingsGuard() : saved(settings) {}
  ~SettingsGuard() { settings = saved; }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  Settings saved;
};
