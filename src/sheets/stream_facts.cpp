#include "sheets/stream_facts.h"

#include "decoders/decoder.h"
#include "encoders/ignoring_encoder.h"

namespace {

// Takes what read_tags pushes and keeps only the stream's parameters.
class StreamFacts : public IgnoringEncoder {
 public:
  int begin_stream(uint64_t total, int rate, int) override {
    total_samples = total;
    sample_rate = rate > 0 ? static_cast<unsigned>(rate) : 0;
    return 0;
  }

  uint64_t total_samples = 0;
  unsigned sample_rate = 0;
};

}  // namespace

bool read_stream_facts(const std::string& path, uint64_t& total_samples, unsigned& sample_rate) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  std::unique_ptr<Decoder> decoder = make_source_decoder(path, extension);
  if (!decoder || decoder->open_source(path.c_str()) == -1) return false;
  decoder->measure_only();
  StreamFacts facts;
  if (decoder->read_tags(&facts) == -1 || facts.sample_rate == 0) return false;
  total_samples = facts.total_samples;
  sample_rate = facts.sample_rate;
  return true;
}
