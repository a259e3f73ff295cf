#include "decoders/seek_landing.h"

#include <algorithm>

void SeekLanding::start(uint64_t samples, int channel_count) {
  skip = samples;
  channels = channel_count;
  held.assign(static_cast<size_t>(channels), {});
  held_count = 0;
  held_bits = 0;
}

int SeekLanding::encode_samples(const int32_t* const* samples, int count, int bits_per_sample) {
  if (count <= 0) return 0;
  const int dropped = static_cast<int>(std::min<uint64_t>(skip, static_cast<uint64_t>(count)));
  skip -= static_cast<uint64_t>(dropped);
  if (dropped == count) return 0;
  if (held_count == 0) {
    held_bits = bits_per_sample;
  } else if (bits_per_sample != held_bits) {
    return -1;
  }
  for (size_t c = 0; c < held.size(); ++c) {
    held[c].insert(held[c].end(), samples[c] + dropped, samples[c] + count);
  }
  held_count += count - dropped;
  return 0;
}

int SeekLanding::release(Encoder* encoder) {
  std::vector<const int32_t*> pointers;
  for (const auto& channel : held) pointers.push_back(channel.data());
  const int result = encoder->encode_samples(pointers.data(), held_count, held_bits);
  start(0, channels);
  return result;
}

int decode_until_landed(SeekLanding& landing, const std::function<int(Encoder*)>& decode) {
  while (!landing.holding()) {
    const int status = decode(&landing);
    if (status != 0) return status;
  }
  return 0;
}
