#include "fs/file_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/fixtures.h"

namespace {

class FileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fixtures::write_file(path, {content.begin(), content.end()}));
    fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
  }

  fixtures::TempDir dir;
  std::string path = dir / "notes.txt";
  std::string content = "0123456789";
  int fd = -1;
};

TEST_F(FileReaderTest, ReadsRangesLikePread) {
  FileReader reader(fd);
  const struct {
    int64_t offset;
    uint64_t size;
    std::string expected;
  } cases[] = {
      {0, 10, "0123456789"}, {3, 4, "3456"}, {8, 10, "89"}, {10, 4, ""}, {100, 4, ""},
  };
  for (const auto& c : cases) {
    char buffer[16] = {};
    const int64_t count = reader.read(buffer, c.offset, c.size);
    EXPECT_EQ(std::string(buffer, count > 0 ? count : 0), c.expected) << c.offset;
  }
}

TEST_F(FileReaderTest, ReportsFailureWithErrno) {
  FileReader reader(fd);
  char buffer[4];
  errno = 0;
  EXPECT_EQ(reader.read(buffer, -1, sizeof buffer), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(FileReaderTest, ClosesItsDescriptorOnDestruction) {
  { FileReader reader(fd); }
  errno = 0;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
