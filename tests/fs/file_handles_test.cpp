#include <fcntl.h>
#include <fuse.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fs/handlers.h"
#include "source_tree.h"
#include "support/log_capture.h"

namespace {

// One open file through the handlers; released on destruction if still open.
class OpenFile {
 public:
  OpenFile(const char* path, int flags = O_RDONLY) : path(path) {
    info.flags = flags;
    result = Handlers::open(path, &info);
  }
  ~OpenFile() {
    if (info.fh != 0) Handlers::release(path, &info);
  }
  std::string read(off_t offset, size_t size) {
    std::string bytes(size, '\0');
    const int count = Handlers::read(path, bytes.data(), size, offset, &info);
    EXPECT_GE(count, 0) << path;
    bytes.resize(count > 0 ? count : 0);
    return bytes;
  }
  std::string read_all() {
    std::string all;
    for (std::string piece; !(piece = read(all.size(), 65536)).empty();) all += piece;
    return all;
  }

  const char* path;
  fuse_file_info info = {};
  int result;
};

std::string file_content(const std::string& path) {
  const auto bytes = fixtures::read_file(path);
  return {bytes.begin(), bytes.end()};
}

int open_descriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
  return count;
}

class FileHandles : public SourceTree {};

TEST_F(FileHandles, ExistingNamesAreReadFromTheSource) {
  add_file("notes.txt", "0123456789");
  add_flac("song.flac");
  OpenFile notes("/notes.txt");
  ASSERT_EQ(notes.result, 0);
  EXPECT_EQ(notes.read(0, 4), "0123");
  EXPECT_EQ(notes.read(7, 100), "789");
  EXPECT_EQ(notes.read(10, 4), "");
  EXPECT_EQ(notes.read(1000, 4), "");

  OpenFile flac("/song.flac");
  ASSERT_EQ(flac.result, 0);
  EXPECT_EQ(flac.read_all(), file_content(source("song.flac")));
}

TEST_F(FileHandles, RealMp3BesideItsFlacIsPassedThrough) {
  add_flac("song.flac");
  add_file("song.mp3", "the real one");
  OpenFile mp3("/song.mp3");
  ASSERT_EQ(mp3.result, 0);
  EXPECT_EQ(mp3.read_all(), "the real one");
}

TEST_F(FileHandles, MissingNameWithAudioSourceIsTranscoded) {
  add_flac("song.flac");
  struct stat announced = {};
  ASSERT_EQ(Handlers::getattr("/song.mp3", &announced), 0);
  OpenFile mp3("/song.mp3");
  ASSERT_EQ(mp3.result, 0);
  ASSERT_NE(mp3.info.fh, 0u);
  EXPECT_EQ(mp3.read(0, 3), "ID3");
  EXPECT_EQ(mp3.read(announced.st_size - 128, 3), "TAG");
  EXPECT_EQ(mp3.read_all().size(), static_cast<size_t>(announced.st_size));
}

TEST_F(FileHandles, FailedOpenLeavesNothingBehind) {
  add_damaged_flac("broken.flac");
  const int before = open_descriptors();
  const struct {
    const char* path;
    int flags;
    int result;
  } cases[] = {
      {"/broken.mp3", O_RDONLY, -EIO},
      {"/missing.mp3", O_RDONLY, -EIO},  // the transcoder finds no source to decode
      {"/missing/x.txt", O_RDONLY, -EIO},
      {"/broken.flac", O_RDONLY | O_DIRECTORY, -ENOTDIR},
  };
  for (const auto& c : cases) {
    OpenFile file(c.path, c.flags);
    EXPECT_EQ(file.result, c.result) << c.path;
    EXPECT_EQ(file.info.fh, 0u) << c.path;
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(FileHandles, OpenForWritingNeverChangesTheSource) {
  add_file("notes.txt", "keep me");
  OpenFile file("/notes.txt", O_WRONLY | O_TRUNC);
  EXPECT_EQ(file.result, 0);
  EXPECT_EQ(file_content(source("notes.txt")), "keep me");
}

TEST_F(FileHandles, ReleaseClosesTheSourceDescriptor) {
  add_file("notes.txt", "x");
  const int before = open_descriptors();
  fuse_file_info info = {};
  ASSERT_EQ(Handlers::open("/notes.txt", &info), 0);
  EXPECT_EQ(open_descriptors(), before + 1);
  EXPECT_EQ(Handlers::release("/notes.txt", &info), 0);
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(FileHandles, ReadWithoutReaderIsRefused) {
  LogCapture log(Logging::ERROR);
  fuse_file_info info = {};
  char buffer[8];
  EXPECT_EQ(Handlers::read("/song.mp3", buffer, sizeof buffer, 0, &info), -EBADF);
  EXPECT_TRUE(log.contains("Tried to read from unopen file: /song.mp3")) << log.text();
  EXPECT_EQ(Handlers::release("/song.mp3", &info), 0);
}

TEST_F(FileHandles, EveryHandlerLogsOneInfoLine) {
  add_file("notes.txt", "abc");
  LogCapture log(Logging::INFO);
  {
    OpenFile file("/notes.txt");
    file.read(1, 2);
  }
  struct stat record;
  Handlers::getattr("/notes.txt", &record);
  struct statvfs fs;
  Handlers::statfs("/", &fs);
  char target[16];
  Handlers::readlink("/notes.txt", target, sizeof target);
  Handlers::readdir(
      "/", nullptr, [](void*, const char*, const struct stat*, off_t) { return 0; }, 0, nullptr);
  const std::vector<std::string> expected = {
      "INFO: open /notes.txt",    "INFO: read /notes.txt: 2 bytes from 1",
      "INFO: release /notes.txt", "INFO: getattr /notes.txt",
      "INFO: statfs /",           "INFO: readlink /notes.txt",
      "INFO: readdir /",
  };
  EXPECT_EQ(log.lines(), expected);
}

}  // namespace
