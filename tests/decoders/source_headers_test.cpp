// The small header readers that decide before FFmpeg or libFLAC look at a file: DRM in
// an ASF header, a FLAC stream's channel count, a Musepack SV8 length. Each must answer
// from well-formed headers and stay within damaged ones.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "decoders/asf_protection.h"
#include "decoders/flac_header.h"
#include "decoders/musepack_length.h"
#include "support/fixtures.h"
#include "support/tool_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAsfHeader = {0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11,
                          0xa6, 0xd9, 0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c};
const Bytes kEncryption = {0xfb, 0xb3, 0x11, 0x22, 0x23, 0xbd, 0xd2, 0x11,
                           0xb4, 0xb7, 0x00, 0xa0, 0xc9, 0x55, 0xfc, 0x6e};
const Bytes kExtendedEncryption = {0x14, 0xe6, 0x8a, 0x29, 0x22, 0x26, 0x17, 0x4c,
                                   0xb9, 0x35, 0xda, 0xe0, 0x7e, 0xe9, 0x28, 0x9c};
const Bytes kOtherObject(16, 0x42);

void put_le(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct AsfObject {
  Bytes guid;
  uint64_t stated_size = 0;  // 0: the real size
  size_t payload = 8;
};

// An ASF header object holding objects; count and header size as stated, or the real ones.
Bytes asf(const std::vector<AsfObject>& objects, int64_t count = -1, uint64_t header_size = 0) {
  Bytes children;
  for (const AsfObject& o : objects) {
    children.insert(children.end(), o.guid.begin(), o.guid.end());
    put_le(children, o.stated_size ? o.stated_size : 24 + o.payload, 8);
    children.insert(children.end(), o.payload, 0);
  }
  Bytes out = kAsfHeader;
  put_le(out, header_size ? header_size : 30 + children.size(), 8);
  put_le(out, count < 0 ? objects.size() : static_cast<uint64_t>(count), 4);
  out.insert(out.end(), {1, 2});
  out.insert(out.end(), children.begin(), children.end());
  return out;
}

TEST(AsfProtection, FindsEitherEncryptionObjectWithinTheHeaderOnly) {
  const struct {
    const char* name;
    Bytes bytes;
    bool found;
  } cases[] = {
      {"plain", asf({{kOtherObject}, {kOtherObject}}), false},
      {"encrypted", asf({{kOtherObject}, {kEncryption}}), true},
      {"extended", asf({{kExtendedEncryption}}), true},
      {"not asf", Bytes(64, 0x30), false},
      {"cut header", Bytes(kAsfHeader.begin(), kAsfHeader.end()), false},
      {"object of size 0", asf({{kOtherObject, 0x1}, {kEncryption}}), false},
      {"object past the end", asf({{kOtherObject, ~0ull}, {kEncryption}}), false},
      {"beyond the header", asf({{kOtherObject}, {kEncryption}}, 2, 30 + 32), false},
      {"more counted than present", asf({{kOtherObject}}, 1000), false},
  };
  fixtures::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(fixtures::write_file(dir / "f.wma", c.bytes));
    EXPECT_EQ(asf_is_protected((dir / "f.wma").c_str()), c.found);
  }
  EXPECT_FALSE(asf_is_protected((dir / "missing.wma").c_str()));
}

int channels_of(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -2;
  const int channels = flac_channels(fd);
  close(fd);
  return channels;
}

TEST(FlacHeader, GivesTheChannelCountOrSaysItIsNoFlac) {
  fixtures::TempDir dir;
  fixtures::AudioSpec spec;
  spec.total_samples = 100;
  for (unsigned channels : {1u, 2u, 6u, 8u}) {
    spec.channels = channels;
    ASSERT_TRUE(fixtures::write_flac(dir / "a.flac", spec));
    EXPECT_EQ(channels_of(dir / "a.flac"), static_cast<int>(channels));
  }
  // An ID3v2 tag before the stream is skipped, as libFLAC skips it.
  Bytes tagged = fixtures::id3v2_title("Tagged");
  const Bytes flac = fixtures::read_file(dir / "a.flac");
  tagged.insert(tagged.end(), flac.begin(), flac.end());
  const struct {
    const char* name;
    Bytes bytes;
    int channels;
  } cases[] = {
      {"tagged", tagged, 8},
      {"marker only", {'f', 'L', 'a', 'C'}, 0},
      {"first block not STREAMINFO", {'f', 'L', 'a', 'C', 4, 0, 0, 34}, 0},
      {"empty", {}, -1},
      {"wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, -1},
      {"tag then nothing", fixtures::id3v2_title("Only"), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(fixtures::write_file(dir / "b.flac", c.bytes));
    EXPECT_EQ(channels_of(dir / "b.flac"), c.channels);
  }
}

TEST(MusepackLength, ReadsTheStreamHeadersSampleCount) {
  fixtures::TempDir dir;
  fixtures::AudioSpec spec;
  spec.total_samples = 4410;
  ASSERT_TRUE(fixtures::write_wav(dir / "s.wav", spec));
  ASSERT_TRUE(fixtures::encode_with_tool(fixtures::Tool::Musepack, dir / "s.wav", dir / "s.mpc",
                                         {"T", "", "", ""}));
  EXPECT_EQ(musepack_sv8_samples((dir / "s.mpc").c_str()), 4410u);

  // "SH": key, size, CRC, version 8, count 0x82 0xd8 0x44 = 44100, silence 0.
  const Bytes header = {'S', 'H', 12, 0, 0, 0, 0, 8, 0x82, 0xd8, 0x44, 0};
  const Bytes other = {'E', 'I', 4, 0};
  auto file = [](std::vector<Bytes> packets) {
    Bytes out = {'M', 'P', 'C', 'K'};
    for (const Bytes& p : packets) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const struct {
    const char* name;
    Bytes bytes;
    uint64_t samples;
  } cases[] = {
      {"header first", file({header}), 44100},
      {"header second", file({other, header}), 44100},
      {"no magic", Bytes(header.begin(), header.end()), 0},
      {"no header", file({other, other}), 0},
      {"count cut", file({Bytes(header.begin(), header.begin() + 10)}), 0},
      {"packet longer than the file", file({{'E', 'I', 0x7f}, header}), 0},
      {"packet shorter than its own head", file({{'E', 'I', 1}, header}), 0},
      {"endless length",
       file({{'E', 'I', 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}}), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(fixtures::write_file(dir / "x.mpc", c.bytes));
    EXPECT_EQ(musepack_sv8_samples((dir / "x.mpc").c_str()), c.samples);
  }
}

}  // namespace
