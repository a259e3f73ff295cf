#include "encoders/lame_geometry.h"

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "app/settings.h"
#include "encoders/lame_setup.h"
#include "logging/logger.h"

namespace {

struct LameCloser {
  void operator()(lame_global_flags* gfp) const { lame_close(gfp); }
};
using LameState = std::unique_ptr<lame_global_flags, LameCloser>;

// Everything lame_init_params looks at besides the stream length.
using Combination = std::tuple<int, int, int, int, int>;

LameState set_up(int sample_rate, int channels, bool info_frame) {
  LameState state(lame_init());
  if (!state) return nullptr;
  configure_lame(state.get());
  if (info_frame) lame_set_bWriteVbrTag(state.get(), 1);
  lame_set_in_samplerate(state.get(), sample_rate);
  lame_set_num_channels(state.get(), channels);
  if (lame_init_params(state.get()) == -1) {
    Logging::Logger(Logging::ERROR) << "lame_init_params failed.";
    return nullptr;
  }
  return state;
}

// LAME writes its information frame only at the end of a stream: an empty one is enough, as
// the fields that describe the stream are replaced anyway.
std::vector<uint8_t> empty_stream_info_frame(int sample_rate, int channels) {
  if (settings.vbr) return {};
  LameState state = set_up(sample_rate, channels, true);
  if (!state) return {};
  std::vector<uint8_t> flushed(kFlushArea);
  if (lame_encode_flush(state.get(), flushed.data(), static_cast<int>(flushed.size())) < 0) {
    return {};
  }
  std::vector<uint8_t> frame(kInfoFrameArea);
  const size_t n = lame_get_lametag_frame(state.get(), frame.data(), frame.size());
  frame.resize(n <= frame.size() ? n : 0);
  return frame;
}

class GeometryStates {
 public:
  bool geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out) {
    std::lock_guard lock(mutex);
    const Entry& entry = find(sample_rate, channels);
    if (!entry.state) return false;
    // The frame count is worked out from the sample count when asked, so one state serves
    // streams of every length.
    lame_set_num_samples(entry.state.get(), total_samples);
    out = geometry_of(entry.state.get());
    out.info_frame_bytes = static_cast<int>(entry.info_frame.size());
    return true;
  }

  bool info_frame(int sample_rate, int channels, std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex);
    const Entry& entry = find(sample_rate, channels);
    if (!entry.state) return false;
    out = entry.info_frame;
    return true;
  }

 private:
  struct Entry {
    LameState state;  // empty when LAME refused the combination
    std::vector<uint8_t> info_frame;
  };

  const Entry& find(int sample_rate, int channels) {
    const Combination key{sample_rate, channels, settings.bitrate, settings.vbr, settings.quality};
    auto it = states.find(key);
    if (it != states.end()) return it->second;
    Entry entry{set_up(sample_rate, channels, false), {}};
    if (entry.state) entry.info_frame = empty_stream_info_frame(sample_rate, channels);
    return states.emplace(key, std::move(entry)).first->second;
  }

  std::mutex mutex;
  std::map<Combination, Entry> states;
};

GeometryStates geometry_states;

}  // namespace

FrameGeometry geometry_of(const lame_global_flags* gfp) {
  FrameGeometry g;
  g.frames = lame_get_totalframes(gfp);
  g.samples_per_frame = lame_get_framesize(gfp);
  g.out_samplerate = lame_get_out_samplerate(gfp);
  g.kbps = lame_get_brate(gfp);
  g.encoder_delay = lame_get_encoder_delay(gfp);
  return g;
}

bool lame_geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out) {
  return geometry_states.geometry(total_samples, sample_rate, channels, out);
}

bool lame_info_frame(int sample_rate, int channels, std::vector<uint8_t>& out) {
  return geometry_states.info_frame(sample_rate, channels, out);
}
