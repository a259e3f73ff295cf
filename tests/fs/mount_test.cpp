#include "support/mount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/mp3_decode.h"
#include "support/settings_guard.h"
#include "transcode/transcoder.h"

namespace {

constexpr uint64_t song_samples = 44100 * 2;
constexpr int command_timeout_ms = 60000;
// Debian's interpreter, the one its python3-mutagen package installs into.
constexpr const char* tag_reader_python = "/usr/bin/python3";

std::string content_of(const std::string& path) {
  const auto bytes = fixtures::read_file(path);
  return {bytes.begin(), bytes.end()};
}

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) text += {digits[b >> 4], digits[b & 15]};
  return text;
}

off_t size_of(const std::string& path) {
  struct stat record = {};
  EXPECT_EQ(stat(path.c_str(), &record), 0) << path << ": " << strerror(errno);
  return record.st_size;
}

// The last 128 bytes of a file of the given size, read first thing after opening it.
std::string read_last_128(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path << ": " << strerror(errno);
  if (fd < 0) return {};
  char tag[128] = {};
  EXPECT_EQ(pread(fd, tag, sizeof tag, size - 128), 128) << path;
  close(fd);
  return {tag, sizeof tag};
}

// A small library: tagged FLAC with a cover, an Ogg Vorbis file, plain files,
// a symbolic link and a damaged FLAC.
class MountedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    fixtures::AudioSpec spec;
    spec.total_samples = song_samples;
    cover = fixtures::solid_png(8, 8, 0x3366cc);
    fixtures::Picture picture;
    picture.data = cover;
    picture.description = "front";
    ASSERT_TRUE(fixtures::write_flac(source / "song.flac", spec,
                                     {"TITLE=First Song", "ARTIST=The Band", "ALBUM=The Album",
                                      "TRACKNUMBER=3", "TRACKTOTAL=12"},
                                     {picture}));
    ASSERT_TRUE(fixtures::write_vorbis(source / "other.ogg", spec, {"TITLE=Other"}));
    ASSERT_TRUE(fixtures::write_file(source / "notes.txt", {'h', 'i', '\n'}));
    ASSERT_TRUE(fixtures::write_file(source / "broken.flac", {'f', 'L', 'a', 'C', 0, 1, 2}));
    ASSERT_EQ(symlink("song.flac", (source / "link.flac").c_str()), 0);
    ASSERT_EQ(mkdir((source / "sub").c_str(), 0755), 0);
    mount = std::make_unique<Mount>(source.path(), options());
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  virtual std::vector<std::string> options() const { return {}; }

  // The size the in-process transcoder announces with the default settings.
  uint64_t announced_size(const std::string& name) const {
    Transcoder transcoder(source / name);
    EXPECT_TRUE(transcoder.initialize()) << name;
    return transcoder.size();
  }

  fixtures::TempDir source;
  fixtures::TempDir scratch;
  std::vector<uint8_t> cover;
  std::unique_ptr<Mount> mount;
};

TEST_F(MountedLibrary, ListingShowsMp3NamesWithPredictedSizes) {
  std::string listing;
  // ls reports broken.mp3, whose stat fails, and exits 1 for it.
  ASSERT_EQ(run_command({"ls", "-l", mount->point()}, command_timeout_ms, &listing), 1);
  EXPECT_NE(listing.find("broken.mp3': Input/output error"), std::string::npos) << listing;
  for (const char* name : {"notes.txt", "sub"}) {
    EXPECT_NE(listing.find(std::string(" ") + name + "\n"), std::string::npos) << listing;
  }
  EXPECT_NE(listing.find(" link.mp3 -> song.mp3\n"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(".flac"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(".ogg"), std::string::npos) << listing;

  for (const char* name : {"song", "other"}) {
    const std::string source_name = std::string(name) + (name[0] == 's' ? ".flac" : ".ogg");
    const std::string expected = " " + std::to_string(announced_size(source_name)) + " ";
    std::istringstream lines(listing);
    bool found = false;
    for (std::string line; std::getline(lines, line);) {
      if (line[0] == '-' && line.ends_with(std::string(" ") + name + ".mp3")) {
        found = true;
        EXPECT_NE(line.find(expected), std::string::npos) << line << " lacks" << expected;
      }
    }
    EXPECT_TRUE(found) << name << " missing from\n" << listing;
  }
}

TEST_F(MountedLibrary, FullCopyHasExactlyTheAnnouncedSize) {
  for (const char* name : {"song.mp3", "other.mp3"}) {
    const off_t announced = size_of(*mount / name);
    const std::string copy = scratch / name;
    ASSERT_EQ(run_command({"cp", *mount / name, copy}, command_timeout_ms), 0) << name;
    EXPECT_EQ(size_of(copy), announced) << name;
    EXPECT_EQ(size_of(*mount / name), announced) << name;
  }
}

TEST_F(MountedLibrary, CopiedFilesDecodeToTheSourceLength) {
  for (const char* name : {"song.mp3", "other.mp3"}) {
    const auto bytes = fixtures::read_file(*mount / name);
    const DecodedMp3 decoded = decode_mp3(bytes);
    EXPECT_TRUE(decoded.clean()) << name << ": " << decoded.errors << " errors";
    EXPECT_EQ(decoded.channels, 2) << name;
    EXPECT_EQ(decoded.sample_rate, 44100) << name;
    // Encoder delay and padding add less than three frames.
    const auto frames = static_cast<int64_t>(decoded.frames());
    EXPECT_LE(std::llabs(frames - static_cast<int64_t>(song_samples)), 3 * 1152) << name;
  }
}

TEST_F(MountedLibrary, TagsReadBackWithARealTagReader) {
  const std::string copy = scratch / "song.mp3";
  ASSERT_EQ(run_command({"cp", *mount / "song.mp3", copy}, command_timeout_ms), 0);
  const char* script =
      "import sys\n"
      "from mutagen.id3 import ID3\n"
      "t = ID3(sys.argv[1])\n"
      "for k in ('TIT2', 'TPE1', 'TALB', 'TRCK', 'TSSE'):\n"
      "    print(k + '=' + (str(t[k].text[0]) if k in t else '<none>'))\n"
      "for p in t.getall('APIC'):\n"
      "    print('APIC=%s %d %s' % (p.mime, p.type, p.data.hex()))\n"
      "print('v1=' + open(sys.argv[1], 'rb').read()[-128:][:3].decode('latin-1'))\n";
  std::string output;
  ASSERT_EQ(run_command({tag_reader_python, "-c", script, copy}, command_timeout_ms, &output), 0)
      << output;
  const std::string expected =
      "TIT2=First Song\nTPE1=The Band\nTALB=The Album\nTRCK=3/12\n"
      "TSSE=OLVEX\nAPIC=image/png 3 " +
      hex(cover) + "\nv1=TAG\n";
  EXPECT_EQ(output, expected);
}

TEST_F(MountedLibrary, LastBytesReadFirstAreTheId3v1Tag) {
  const off_t size = size_of(*mount / "song.mp3");
  const std::string tag = read_last_128(*mount / "song.mp3", size);
  EXPECT_EQ(tag.substr(0, 3), "TAG");
  EXPECT_EQ(tag.substr(3, 10), "First Song");
}

TEST_F(MountedLibrary, PassedThroughFilesAreByteIdentical) {
  for (const char* name : {"notes.txt", "song.flac", "other.ogg"}) {
    EXPECT_EQ(content_of(*mount / name), content_of(source / name)) << name;
  }
  char target[64] = {};
  ASSERT_EQ(readlink((*mount / "link.mp3").c_str(), target, sizeof target - 1), 8);
  EXPECT_STREQ(target, "song.mp3");
}

TEST_F(MountedLibrary, ChangesAreRefused) {
  const std::string m = mount->point();
  const struct {
    const char* what;
    std::function<int()> attempt;
  } cases[] = {
      {"create", [&] { return open((m + "/new.txt").c_str(), O_WRONLY | O_CREAT, 0644); }},
      {"mkdir", [&] { return mkdir((m + "/newdir").c_str(), 0755); }},
      {"unlink", [&] { return unlink((m + "/notes.txt").c_str()); }},
      {"unlink mp3", [&] { return unlink((m + "/song.mp3").c_str()); }},
      {"rmdir", [&] { return rmdir((m + "/sub").c_str()); }},
      {"rename", [&] { return rename((m + "/notes.txt").c_str(), (m + "/moved.txt").c_str()); }},
      {"symlink", [&] { return symlink("notes.txt", (m + "/newlink").c_str()); }},
      {"chmod", [&] { return chmod((m + "/notes.txt").c_str(), 0600); }},
      {"truncate", [&] { return truncate((m + "/notes.txt").c_str(), 0); }},
      {"truncate mp3", [&] { return truncate((m + "/song.mp3").c_str(), 0); }},
  };
  for (const auto& c : cases) EXPECT_EQ(c.attempt(), -1) << c.what;

  for (const char* name : {"notes.txt", "song.mp3"}) {
    const int fd = open((m + "/" + name).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << name << ": " << strerror(errno);
    EXPECT_EQ(write(fd, "x", 1), -1) << name;
    close(fd);
  }
  EXPECT_EQ(content_of(source / "notes.txt"), "hi\n");
  std::string listing;
  ASSERT_EQ(run_command({"ls", "-a", source.path()}, command_timeout_ms, &listing), 0);
  EXPECT_EQ(listing, ".\n..\nbroken.flac\nlink.flac\nnotes.txt\nother.ogg\nsong.flac\nsub\n");
}

TEST_F(MountedLibrary, StatfsIsThatOfTheSourceFileSystem) {
  struct statvfs expected = {}, mirrored = {};
  ASSERT_EQ(statvfs(source.path().c_str(), &expected), 0);
  ASSERT_EQ(statvfs(mount->point().c_str(), &mirrored), 0);
  EXPECT_EQ(mirrored.f_bsize, expected.f_bsize);
  EXPECT_EQ(mirrored.f_blocks, expected.f_blocks);
  EXPECT_EQ(mirrored.f_files, expected.f_files);
  EXPECT_EQ(mirrored.f_namemax, expected.f_namemax);
}

TEST_F(MountedLibrary, DamagedSourceFailsAloneWithEio) {
  struct stat record;
  errno = 0;
  EXPECT_EQ(stat((*mount / "broken.mp3").c_str(), &record), -1);
  EXPECT_EQ(errno, EIO);
  errno = 0;
  EXPECT_EQ(open((*mount / "broken.mp3").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_GT(size_of(*mount / "song.mp3"), 0);
  EXPECT_EQ(content_of(*mount / "notes.txt"), "hi\n");
}

TEST_F(MountedLibrary, CleanUnmountExitsWithZero) {
  EXPECT_EQ(mount->unmount(), 0) << mount->output();
  EXPECT_FALSE(is_mounted(mount->point()));
}

class MountedWithStatsCache : public MountedLibrary {
  // Without the kernel's attribute cache every stat reaches the mirror.
  std::vector<std::string> options() const override {
    return {"--statcachesize=100", "-o", "attr_timeout=0,entry_timeout=0"};
  }
};

TEST_F(MountedWithStatsCache, StatAfterAFullReadGivesTheExactSize) {
  for (const char* name : {"song.mp3", "other.mp3"}) {
    const off_t predicted = size_of(*mount / name);
    ASSERT_FALSE(fixtures::read_file(*mount / name).empty()) << name;
    const off_t exact = size_of(*mount / name);
    const auto bytes = fixtures::read_file(*mount / name);
    EXPECT_EQ(static_cast<off_t>(bytes.size()), exact) << name << ", predicted " << predicted;
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG") << name;
  }
}

class MountedWithDebugLog : public MountedLibrary {
 protected:
  std::vector<std::string> options() const override {
    return {"--logfile=" + log_path, "--log_maxlevel=DEBUG", "--log_format=%M"};
  }
  std::string log_path = scratch / "olvex.log";
};

// Players read the ID3v1 tag before anything else; the kernel must pass that read on as
// it is, not widened to whole pages that reach back into audio not yet encoded.
TEST_F(MountedWithDebugLog, TheId3v1TagIsServedWithoutEncoding) {
  const off_t size = size_of(*mount / "song.mp3");
  const std::string tag = read_last_128(*mount / "song.mp3", size);
  EXPECT_EQ(tag.substr(0, 3), "TAG");

  const std::string log = content_of(log_path);
  EXPECT_NE(log.find("Reading 128 bytes from offset " + std::to_string(size - 128) + "."),
            std::string::npos)
      << log;
  // That message comes only from reads that had to encode.
  EXPECT_EQ(log.find("Successfully read "), std::string::npos) << log;
}

class MountedVbrWithStatsCache : public MountedLibrary {
  std::vector<std::string> options() const override {
    return {"--vbr", "--statcachesize=100", "-o", "attr_timeout=0,entry_timeout=0"};
  }
};

// Reads like cp and cat do: fixed chunks until a read returns 0.
std::vector<uint8_t> read_in_chunks(const std::string& path) {
  std::vector<uint8_t> bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path << ": " << strerror(errno);
  if (fd < 0) return bytes;
  std::vector<uint8_t> chunk(128 * 1024);
  ssize_t n;
  while ((n = ::read(fd, chunk.data(), chunk.size())) > 0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
  }
  EXPECT_EQ(n, 0) << path << ": " << strerror(errno);
  close(fd);
  return bytes;
}

// Copies with cat, which moves the bytes by splicing through the page cache rather than
// by read(); the cache must not fill in pages beyond the stream's real end.
std::vector<uint8_t> copy_with_cat(const std::string& path, const std::string& copy) {
  EXPECT_EQ(run_command({"sh", "-c", "cat \"$0\" > \"$1\"", path, copy}, command_timeout_ms), 0);
  return fixtures::read_file(copy);
}

// A VBR file shrinks from its announced size to its exact one while it is being read;
// the copy must end with the stream, not run on to the old size.
TEST_F(MountedVbrWithStatsCache, ACopyEndsAtTheExactSizeOfAShrinkingFile) {
  // Long enough that the exact end lies several read chunks before the announced one.
  fixtures::AudioSpec spec;
  spec.total_samples = 44100 * 60;
  ASSERT_TRUE(fixtures::write_flac(source / "long.flac", spec, {"TITLE=Long"}));
  const std::function<std::vector<uint8_t>(const std::string&)> copiers[] = {
      read_in_chunks,
      [this](const std::string& path) { return copy_with_cat(path, scratch / "copy.mp3"); },
  };
  time_t mtime = time(nullptr);
  for (const auto& copy : copiers) {
    // A newer source makes the cached exact size stale, so each copy starts announced.
    mtime += 10;
    const timeval times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(utimes((source / "long.flac").c_str(), times), 0);
    const off_t announced = size_of(*mount / "long.mp3");
    const auto bytes = copy(*mount / "long.mp3");
    const off_t exact = size_of(*mount / "long.mp3");
    EXPECT_LT(exact, announced);
    EXPECT_EQ(static_cast<off_t>(bytes.size()), exact);
    ASSERT_GE(bytes.size(), 128u);
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
    EXPECT_TRUE(decode_mp3(bytes).clean());
  }
}

}  // namespace
