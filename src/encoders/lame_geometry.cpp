#include "encoders/lame_geometry.h"

#include <lame/lame.h>

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

class GeometryStates {
 public:
  bool geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out) {
    const Combination key{sample_rate, channels, settings.bitrate, settings.vbr, settings.quality};
    std::lock_guard lock(mutex);
    auto it = states.find(key);
    if (it == states.end()) it = states.emplace(key, set_up(sample_rate, channels)).first;
    lame_global_flags* gfp = it->second.get();
    if (!gfp) return false;
    // The frame count is worked out from the sample count when asked, so one state serves
    // streams of every length.
    lame_set_num_samples(gfp, total_samples);
    out.frames = lame_get_totalframes(gfp);
    out.samples_per_frame = lame_get_framesize(gfp);
    out.out_samplerate = lame_get_out_samplerate(gfp);
    out.bitrate_kbps = encoding_bitrate(gfp);
    return true;
  }

 private:
  static LameState set_up(int sample_rate, int channels) {
    LameState state(lame_init());
    if (!state) return nullptr;
    configure_lame(state.get());
    lame_set_in_samplerate(state.get(), sample_rate);
    lame_set_num_channels(state.get(), channels);
    if (lame_init_params(state.get()) == -1) {
      Logging::Logger(Logging::ERROR) << "lame_init_params failed.";
      return nullptr;
    }
    return state;
  }

  std::mutex mutex;
  std::map<Combination, LameState> states;  // a failed set-up is remembered as empty
};

GeometryStates geometry_states;

}  // namespace

bool lame_geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out) {
  return geometry_states.geometry(total_samples, sample_rate, channels, out);
}
