#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/fixtures.h"
#include "support/settings_guard.h"

// A temporary source tree that the handlers see as basepath.
class SourceTree : public ::testing::Test {
 protected:
  SourceTree() { settings.basepath = dir.path().c_str(); }

  std::string source(const std::string& name) const { return dir / name; }

  void add_file(const std::string& name, const std::string& content = "") const {
    std::ofstream out(source(name), std::ios::binary);
    out << content;
    ASSERT_TRUE(out.flush()) << name;
  }
  void add_dir(const std::string& name) const {
    ASSERT_EQ(mkdir(source(name).c_str(), 0755), 0) << name;
  }
  void add_link(const std::string& name, const std::string& target) const {
    ASSERT_EQ(symlink(target.c_str(), source(name).c_str()), 0) << name;
  }
  // A short tagged stereo FLAC, enough for the transcoder to announce a size.
  void add_flac(const std::string& name,
                const fixtures::Comments& comments = {"TITLE=Song"}) const {
    fixtures::AudioSpec spec;
    spec.total_samples = 44100 / 4;
    ASSERT_TRUE(fixtures::write_flac(source(name), spec, comments)) << name;
  }
  // A file that claims to be FLAC but holds no stream.
  void add_damaged_flac(const std::string& name) const { add_file(name, "fLaC? not really"); }

  SettingsGuard guard;
  fixtures::TempDir dir;
};
