#include "recording_encoder.h"

#include <cstdio>

namespace {

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
  char line[128];
  snprintf(line, sizeof line, pattern, a, b, c);
  return line;
}

}  // namespace

int RecordingEncoder::begin_stream(uint64_t total, int rate, int count) {
  calls.push_back(format("begin_stream %g %g %g", static_cast<double>(total), rate, count));
  total_samples = total;
  sample_rate = rate;
  channels = count;
  pcm.assign(count > 0 ? count : 0, {});
  return begin_stream_result;
}

void RecordingEncoder::add_text_tag(int kind, const char* value) {
  calls.push_back(format("add_text_tag %g ", kind) + value);
}

void RecordingEncoder::add_picture(const char* mime_type, int picture_type, const char* description,
                                   const uint8_t* data, int data_length) {
  calls.push_back(std::string("add_picture ") + mime_type + format(" %g ", picture_type) +
                  description + format(" %g", data_length));
  PictureCall call{mime_type, picture_type, description, {}, data_length};
  if (data_length > 0 && data) call.data.assign(data, data + data_length);
  pictures.push_back(std::move(call));
}

void RecordingEncoder::apply_gain(double decibels) {
  calls.push_back(format("apply_gain %g", decibels));
  gains.push_back(decibels);
}

int RecordingEncoder::emit_tags(uint64_t known_size) {
  calls.push_back(format("emit_tags %g", static_cast<double>(known_size)));
  return emit_result;
}

uint64_t RecordingEncoder::predicted_size() {
  calls.push_back("predicted_size");
  return predicted;
}

int RecordingEncoder::encode_samples(const int32_t* const* samples, int count,
                                     int bits_per_sample) {
  calls.push_back(format("encode_samples %g %g", count, bits_per_sample));
  int index = static_cast<int>(piece_sizes.size());
  piece_sizes.push_back(count);
  for (size_t c = 0; c < pcm.size(); ++c)
    pcm[c].insert(pcm[c].end(), samples[c], samples[c] + count);
  return fail_encode_from >= 0 && index >= fail_encode_from ? -1 : 0;
}

int RecordingEncoder::flush_stream() {
  calls.push_back("flush_stream");
  return flush_result;
}

std::vector<std::string> RecordingEncoder::calls_named(const std::string& name) const {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.compare(0, name.size(), name) == 0 &&
        (call.size() == name.size() || call[name.size()] == ' ')) {
      found.push_back(call);
    }
  }
  return found;
}
