#include "support/mp3_decode.h"

#include <mpg123.h>

#include <memory>

namespace {

struct HandleDeleter {
  void operator()(mpg123_handle* h) const {
    mpg123_close(h);
    mpg123_delete(h);
  }
};

void take_pcm(DecodedMp3& out, const unsigned char* data, size_t bytes) {
  if (out.channels <= 0) return;
  const auto* samples = reinterpret_cast<const int16_t*>(data);
  size_t n = bytes / sizeof(int16_t);
  for (size_t i = 0; i < n; ++i) out.pcm[i % out.channels].push_back(samples[i]);
}

}  // namespace

DecodedMp3 decode_mp3(std::span<const uint8_t> bytes) {
  DecodedMp3 out;
  mpg123_init();  // needed by older libmpg123, a no-op in newer ones
  int err = MPG123_OK;
  std::unique_ptr<mpg123_handle, HandleDeleter> h(mpg123_new(nullptr, &err));
  if (!h) {
    out.errors = 1;
    return out;
  }
  mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Always signed 16-bit, at whatever rate and channel count the stream has.
  mpg123_format_none(h.get());
  const long* rates = nullptr;
  size_t nrates = 0;
  mpg123_rates(&rates, &nrates);
  for (size_t i = 0; i < nrates; ++i) {
    mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open_feed(h.get()) != MPG123_OK) {
    out.errors = 1;
    return out;
  }

  std::vector<unsigned char> pcm(1 << 16);
  const unsigned char* in = bytes.data();
  size_t in_size = bytes.size();
  for (;;) {
    size_t got = 0;
    int r = mpg123_decode(h.get(), in, in_size, pcm.data(), pcm.size(), &got);
    in = nullptr;  // all input goes in with the first call
    in_size = 0;
    if (r == MPG123_NEW_FORMAT) {
      int channels = 0, encoding = 0;
      long rate = 0;
      mpg123_getformat(h.get(), &rate, &channels, &encoding);
      out.sample_rate = rate;
      out.channels = channels;
      out.pcm.resize(channels);
    }
    take_pcm(out, pcm.data(), got);
    if (r == MPG123_ERR) {
      ++out.errors;
      break;
    }
    if (r == MPG123_NEED_MORE || r == MPG123_DONE) break;
  }
  return out;
}
