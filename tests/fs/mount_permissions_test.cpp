// Another user through a mount shared with allow_other: the kernel enforces the
// owners and modes the mirror shows, so nothing is readable that the source denies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"

namespace {

constexpr int command_timeout_ms = 60000;

// Runs a shell command as nobody; paths are the test's own and hold no quotes.
int as_nobody(const std::string& command, std::string* output = nullptr) {
  std::string ignored;
  return run_command({"su", "nobody", "-s", "/bin/sh", "-c", command}, command_timeout_ms,
                     output ? output : &ignored);
}

class MountedForOthers : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    ASSERT_EQ(as_nobody("true"), 0) << "su to nobody is not possible here";
    fixtures::AudioSpec spec;
    spec.total_samples = 4410;
    // The mirror's root carries the source root's mode; the temporary directory is 0700.
    ASSERT_EQ(chmod(source.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((source / "private").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((source / "shared").c_str(), 0755), 0);
    const struct {
      std::string name;
      mode_t mode;
      bool flac;
    } files[] = {
        {"public.txt", 0644, false},        {"secret.txt", 0600, false},
        {"public.flac", 0644, true},        {"secret.flac", 0600, true},
        {"private/inner.txt", 0644, false}, {"shared/inner.txt", 0644, false},
    };
    for (const auto& f : files) {
      const std::string path = source / f.name;
      ASSERT_TRUE(f.flac ? fixtures::write_flac(path, spec) : fixtures::write_file(path, {'x'}));
      ASSERT_EQ(chmod(path.c_str(), f.mode), 0) << f.name;
    }
    mount = std::make_unique<Mount>(source.path(), std::vector<std::string>{"-o", "allow_other"});
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  fixtures::TempDir source;
  std::unique_ptr<Mount> mount;
};

TEST_F(MountedForOthers, AnotherUserGetsWhatTheSourceGrantsAndNothingMore) {
  const struct {
    std::string command;
    bool allowed;
  } cases[] = {
      {"cat " + *mount / "public.txt", true},
      {"cat " + *mount / "public.mp3", true},
      {"cat " + *mount / "shared/inner.txt", true},
      {"ls " + *mount / "shared", true},
      {"ls " + mount->point(), true},
      {"cat " + *mount / "secret.txt", false},
      {"cat " + *mount / "secret.mp3", false},
      {"ls " + *mount / "private", false},
      {"cat " + *mount / "private/inner.txt", false},
  };
  for (const auto& c : cases) {
    std::string output;
    const int status = as_nobody(c.command + " > /dev/null", &output);
    if (c.allowed) {
      EXPECT_EQ(status, 0) << c.command << ": " << output;
    } else {
      EXPECT_NE(status, 0) << c.command;
      EXPECT_NE(output.find("Permission denied"), std::string::npos) << c.command << ": " << output;
    }
  }
  // The owner still reads everything.
  for (const char* name : {"secret.txt", "secret.mp3", "private/inner.txt"}) {
    EXPECT_FALSE(fixtures::read_file(*mount / name).empty()) << name;
  }
}

}  // namespace
