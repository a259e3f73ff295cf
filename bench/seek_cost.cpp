// What a segment costs its decoder before any encoding: open, read the tags as for a size,
// seek to 90% of a 10-minute source, and decode the first 4 KiB of MP3's worth of audio
// (at 128 kbit/s, a quarter second) and a 10-second segment; beside it, the same point reached
// by decoding from the start. One line per format, milliseconds, median of a few runs.
//   bench_seek_cost DIR [SECONDS]   (DIR: where the sources are written; default 600 s)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoders/decoder.h"
#include "encoders/ignoring_encoder.h"
#include "support/fixtures.h"
#include "support/mount.h"
#include "support/tool_fixtures.h"

namespace {

// Counts samples and drops them.
class Sink : public IgnoringEncoder {
 public:
  int begin_stream(uint64_t total, int rate, int) override {
    total_samples = total;
    sample_rate = rate;
    return 0;
  }
  int encode_samples(const int32_t* const*, int count, int) override {
    samples += static_cast<uint64_t>(count);
    return 0;
  }

  uint64_t total_samples = 0;
  int sample_rate = 0;
  uint64_t samples = 0;
};

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Times {
  double seek = 0;     // open, tags, seek
  double first = 0;    // and a quarter second decoded
  double segment = 0;  // and ten seconds decoded
  double prefix = 0;   // open, tags, and decoding from the start to the same point
};

bool decode_until(Decoder& decoder, Sink& sink, uint64_t samples) {
  while (sink.samples < samples) {
    if (decoder.decode_chunk(&sink) != 0) return false;
  }
  return true;
}

// One run; false where anything failed.
bool run(const std::string& path, bool seek, Times& times) {
  const Clock::time_point start = Clock::now();
  std::string extension = path.substr(path.rfind('.') + 1);
  std::unique_ptr<Decoder> decoder = make_source_decoder(path, extension);
  Sink sink;
  if (!decoder || decoder->open_source(path.c_str()) != 0) return false;
  decoder->measure_only();
  if (decoder->read_tags(&sink) != 0) return false;
  const uint64_t target = sink.total_samples / 10 * 9;
  const uint64_t rate = static_cast<uint64_t>(sink.sample_rate);
  if (!seek) {
    if (!decode_until(*decoder, sink, target)) return false;
    times.prefix = since(start);
    return true;
  }
  if (decoder->seek_to_sample(target) != 0) return false;
  times.seek = since(start);
  if (!decode_until(*decoder, sink, rate / 4)) return false;
  times.first = since(start);
  if (!decode_until(*decoder, sink, rate * 10)) return false;
  times.segment = since(start);
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Format {
  const char* name;
  const char* extension;
  std::function<bool(const std::string& wav, const std::string& path)> make;
};

bool flac_tool(const std::string& wav, const std::string& path) {
  return run_command({"flac", "--silent", "--force", "-o", path, wav}, 600000) == 0;
}

std::function<bool(const std::string&, const std::string&)> tool(fixtures::Tool which) {
  return [which](const std::string& wav, const std::string& path) {
    return fixtures::encode_with_tool(which, wav, path, {"Song", "Band", "Record", "1"});
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [SECONDS]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  fixtures::AudioSpec spec;
  spec.total_samples = 44100ull * (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 600);
  const std::string wav = dir + "/source.wav";
  if (!fixtures::write_wav(wav, spec)) return 1;

  using fixtures::Tool;
  const Format formats[] = {
      {"flac", "flac", flac_tool},
      {"ogg vorbis", "ogg",
       [&spec](const std::string&, const std::string& path) {
         return fixtures::write_vorbis(path, spec);
       }},
      {"opus", "opus", tool(Tool::Opus)},
      {"wavpack", "wv", tool(Tool::WavPack)},
      {"alac", "m4a", tool(Tool::Alac)},
      {"aac", "m4a", tool(Tool::Aac)},
      {"tta", "tta", tool(Tool::Tta)},
      {"wav", "wav", tool(Tool::Wav)},
      {"aiff", "aiff", tool(Tool::Aiff)},
      {"ogg flac", "oga", tool(Tool::OggFlac)},
  };
  constexpr int kRuns = 5;
  std::printf("%-11s %10s %10s %10s %12s   (ms, median of %d)\n", "format", "seek", "+0.25 s",
              "+10 s", "from start", kRuns);
  for (const Format& format : formats) {
    std::string name = format.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    const std::string path = dir + "/" + name + "." + format.extension;
    if (!format.make(wav, path)) {
      std::printf("%-11s could not be made\n", format.name);
      continue;
    }
    std::vector<double> seek, first, segment, prefix;
    bool ok = true;
    for (int i = 0; ok && i < kRuns; ++i) {
      Times times;
      ok = run(path, true, times) && run(path, false, times);
      seek.push_back(times.seek);
      first.push_back(times.first);
      segment.push_back(times.segment);
      prefix.push_back(times.prefix);
    }
    if (!ok) {
      std::printf("%-11s failed\n", format.name);
      continue;
    }
    std::printf("%-11s %10.1f %10.1f %10.1f %12.1f\n", format.name, median(seek), median(first),
                median(segment), median(prefix));
  }
  return 0;
}
