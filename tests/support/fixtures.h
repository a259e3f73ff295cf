#pragma once

// Writers of source files for tests, fuzz seeds, benchmarks and the demo
// library: FLAC and Ogg Vorbis from synthesized audio, with chosen tags,
// pictures and damage. Every writer returns false (and leaves no half file
// it reports as good) when the encoder library refuses.

#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

struct AudioSpec {
  unsigned sample_rate = 44100;
  unsigned channels = 2;
  unsigned bits_per_sample = 16;   // FLAC only; Ogg Vorbis is always float inside
  uint64_t total_samples = 44100;  // per channel
  double frequency = 440.0;        // channel c carries a sine at frequency * (c + 1)
  double amplitude = 0.5;          // of full scale
  double glide = 0.0;              // Hz per second the frequency rises by, so no stretch repeats
  uint64_t first_sample = 0;       // where in the endless signal the source starts: a cut
};

struct Picture {
  std::string mime_type = "image/png";
  int type = 3;  // front cover
  std::string description;
  std::vector<uint8_t> data;
};

// Raw comment entries, normally "NAME=value"; any bytes are allowed so that
// entries without "=" or with an empty name can be written too.
using Comments = std::vector<std::string>;

// Sample i of channel c as the writers synthesize it, at bits_per_sample.
int32_t sine_sample(const AudioSpec& spec, unsigned channel, uint64_t i);

bool write_flac(const std::string& path, const AudioSpec& spec, const Comments& comments = {},
                const std::vector<Picture>& pictures = {});
bool write_vorbis(const std::string& path, const AudioSpec& spec, const Comments& comments = {},
                  float quality = 0.3f);

// The FLAC PICTURE block layout of picture (big-endian fields), as carried by
// METADATA_BLOCK_PICTURE; and that block in base64, the comment's value.
std::vector<uint8_t> picture_block(const Picture& picture);
std::string base64(const std::vector<uint8_t>& bytes);

// A small valid PNG image of w x h pixels in one colour, for covers.
std::vector<uint8_t> solid_png(unsigned width, unsigned height, uint32_t rgb);

std::vector<uint8_t> read_file(const std::string& path);
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace fixtures
