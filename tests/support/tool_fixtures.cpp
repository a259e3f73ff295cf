#include "support/tool_fixtures.h"

#include <unistd.h>

#include <cmath>

#include "support/mount.h"

namespace fixtures {

namespace {

constexpr int kToolTimeoutMs = 60000;

void put_le(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The speaker mask of WAVE_FORMAT_EXTENSIBLE for the first n standard positions.
uint32_t speaker_mask(unsigned channels) {
  return channels >= 32 ? 0xffffffffu : (1u << channels) - 1;
}

using Args = std::vector<std::string>;

// The metadata options of ffmpeg for tags, empty values left out.
Args ffmpeg_metadata(const ToolTags& tags) {
  Args args;
  const std::pair<const char*, const std::string*> keys[] = {{"title", &tags.title},
                                                             {"artist", &tags.artist},
                                                             {"album", &tags.album},
                                                             {"track", &tags.track}};
  for (const auto& [key, value] : keys) {
    if (value->empty()) continue;
    args.push_back("-metadata");
    args.push_back(std::string(key) + "=" + *value);
  }
  return args;
}

Args ffmpeg_command(const std::string& wav, const std::string& target, const ToolTags& tags,
                    const std::string& cover_path, const Args& codec) {
  Args args = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", wav};
  if (!cover_path.empty()) {
    args.insert(args.end(),
                {"-i", cover_path, "-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v",
                 "attached_pic", "-metadata:s:v", "comment=Cover (front)"});
  }
  args.insert(args.end(), codec.begin(), codec.end());
  Args metadata = ffmpeg_metadata(tags);
  args.insert(args.end(), metadata.begin(), metadata.end());
  args.push_back(target);
  return args;
}

Args vorbis_comment_options(const char* option, const ToolTags& tags) {
  Args args;
  const std::pair<const char*, const std::string*> keys[] = {{"TITLE", &tags.title},
                                                             {"ARTIST", &tags.artist},
                                                             {"ALBUM", &tags.album},
                                                             {"TRACKNUMBER", &tags.track}};
  for (const auto& [key, value] : keys) {
    if (value->empty()) continue;
    args.push_back(option);
    args.push_back(std::string(key) + "=" + *value);
  }
  return args;
}

Args tool_command(Tool tool, const std::string& wav, const std::string& target,
                  const ToolTags& tags, const std::string& cover_path) {
  Args args;
  switch (tool) {
    case Tool::Opus:
      args = {"opusenc", "--quiet"};
      for (const std::string& c : vorbis_comment_options("--comment", tags)) args.push_back(c);
      if (!cover_path.empty()) args.insert(args.end(), {"--picture", cover_path});
      args.insert(args.end(), {wav, target});
      return args;
    case Tool::WavPack:
      args = {"wavpack", "-q", "-y"};
      if (!tags.title.empty()) args.insert(args.end(), {"-w", "Title=" + tags.title});
      if (!tags.artist.empty()) args.insert(args.end(), {"-w", "Artist=" + tags.artist});
      if (!tags.album.empty()) args.insert(args.end(), {"-w", "Album=" + tags.album});
      if (!tags.track.empty()) args.insert(args.end(), {"-w", "Track=" + tags.track});
      if (!cover_path.empty()) {
        args.insert(args.end(), {"--write-binary-tag", "Cover Art (Front)=@" + cover_path});
      }
      args.insert(args.end(), {wav, "-o", target});
      return args;
    case Tool::OggFlac:
      args = {"flac", "--silent", "--force", "--ogg"};
      for (const std::string& c : vorbis_comment_options("-T", tags)) args.push_back(c);
      if (!cover_path.empty()) args.push_back("--picture=" + cover_path);
      args.insert(args.end(), {"-o", target, wav});
      return args;
    case Tool::Alac:
      return ffmpeg_command(wav, target, tags, cover_path, {"-c:a", "alac", "-f", "ipod"});
    case Tool::Aac:
      return ffmpeg_command(wav, target, tags, cover_path,
                            {"-c:a", "aac", "-b:a", "128k", "-f", "ipod"});
    case Tool::Wav:
      return ffmpeg_command(wav, target, tags, "", {"-c:a", "copy", "-f", "wav"});
    case Tool::Aiff:
      return ffmpeg_command(wav, target, tags, cover_path,
                            {"-c:a", "pcm_s16be", "-write_id3v2", "1", "-f", "aiff"});
    case Tool::Tta:
      return ffmpeg_command(wav, target, tags, "", {"-c:a", "tta", "-f", "tta"});
    case Tool::Wma:
      return ffmpeg_command(wav, target, tags, "", {"-c:a", "wmav2", "-b:a", "128k", "-f", "asf"});
    case Tool::MatroskaFlac:
      return ffmpeg_command(wav, target, tags, "", {"-c:a", "flac", "-f", "matroska"});
    case Tool::WebmOpus:
      return ffmpeg_command(wav, target, tags, "", {"-c:a", "libopus", "-f", "webm"});
    // Raw streams have no place for tags; the caller may put an ID3v2 tag before them.
    case Tool::Adts:
      return ffmpeg_command(wav, target, {}, "", {"-c:a", "aac", "-b:a", "128k", "-f", "adts"});
    case Tool::Ac3:
      return ffmpeg_command(wav, target, {}, "", {"-c:a", "ac3", "-f", "ac3"});
    case Tool::Dts:
      return ffmpeg_command(wav, target, {}, "", {"-c:a", "dca", "-strict", "-2", "-f", "dts"});
    case Tool::Musepack:
      args = {"mpcenc", "--silent", "--overwrite", "--radio"};
      if (!tags.title.empty()) args.insert(args.end(), {"--tag", "Title=" + tags.title});
      if (!tags.artist.empty()) args.insert(args.end(), {"--tag", "Artist=" + tags.artist});
      if (!tags.album.empty()) args.insert(args.end(), {"--tag", "Album=" + tags.album});
      if (!tags.track.empty()) args.insert(args.end(), {"--tag", "Track=" + tags.track});
      args.insert(args.end(), {wav, target});
      return args;
  }
  return args;
}

}  // namespace

bool write_wav(const std::string& path, const AudioSpec& spec) {
  const unsigned bytes = spec.bits_per_sample > 16 ? 3 : 2;
  const unsigned bits = bytes * 8;
  const bool extensible = spec.channels > 2;
  const uint32_t block = bytes * spec.channels;
  const uint64_t data_size = block * spec.total_samples;

  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  const uint32_t format_size = extensible ? 40 : 16;
  put_le(out, static_cast<uint32_t>(4 + 8 + format_size + 8 + data_size), 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_le(out, format_size, 4);
  put_le(out, extensible ? 0xfffe : 1, 2);
  put_le(out, spec.channels, 2);
  put_le(out, spec.sample_rate, 4);
  put_le(out, spec.sample_rate * block, 4);
  put_le(out, block, 2);
  put_le(out, bits, 2);
  if (extensible) {
    put_le(out, 22, 2);
    put_le(out, bits, 2);
    put_le(out, speaker_mask(spec.channels), 4);
    // The PCM subformat GUID.
    out.insert(out.end(), {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa,
                           0x00, 0x38, 0x9b, 0x71});
  }
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put_le(out, static_cast<uint32_t>(data_size), 4);
  AudioSpec at_depth = spec;
  at_depth.bits_per_sample = bits;
  for (uint64_t i = 0; i < spec.total_samples; ++i) {
    for (unsigned c = 0; c < spec.channels; ++c) {
      put_le(out, static_cast<uint32_t>(sine_sample(at_depth, c, i)), static_cast<int>(bytes));
    }
  }
  return write_file(path, out);
}

std::vector<uint8_t> id3v2_title(const std::string& title) {
  std::vector<uint8_t> frame = {'T', 'I', 'T', '2'};
  const uint32_t frame_size = static_cast<uint32_t>(title.size() + 1);
  for (int shift = 24; shift >= 0; shift -= 8)
    frame.push_back(static_cast<uint8_t>(frame_size >> shift));
  frame.insert(frame.end(), {0, 0, 0});  // flags, then ISO-8859-1
  frame.insert(frame.end(), title.begin(), title.end());
  std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
  const uint32_t size = static_cast<uint32_t>(frame.size());
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back((size >> shift) & 0x7f);
  tag.insert(tag.end(), frame.begin(), frame.end());
  return tag;
}

bool write_dsf(const std::string& path, const AudioSpec& spec, const std::string& title) {
  constexpr uint32_t kRate = 64 * 44100;
  constexpr uint32_t kBlock = 4096;  // bytes per channel per block
  const uint64_t samples = spec.total_samples * (kRate / spec.sample_rate);
  const uint64_t blocks = (samples + 8 * kBlock - 1) / (8 * kBlock);
  const uint64_t data_size = blocks * kBlock * spec.channels;
  const std::vector<uint8_t> tag = title.empty() ? std::vector<uint8_t>() : id3v2_title(title);
  const uint64_t data_at = 28 + 52;
  const uint64_t file_size = data_at + 12 + data_size + tag.size();

  std::vector<uint8_t> out = {'D', 'S', 'D', ' '};
  put_le(out, 28, 8);
  put_le(out, file_size, 8);
  put_le(out, tag.empty() ? 0 : data_at + 12 + data_size, 8);
  out.insert(out.end(), {'f', 'm', 't', ' '});
  put_le(out, 52, 8);
  put_le(out, 1, 4);  // version
  put_le(out, 0, 4);  // raw DSD
  put_le(out, spec.channels == 1 ? 1 : 2, 4);
  put_le(out, spec.channels, 4);
  put_le(out, kRate, 4);
  put_le(out, 1, 4);  // bits per sample: LSB first
  put_le(out, samples, 8);
  put_le(out, kBlock, 4);
  put_le(out, 0, 4);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put_le(out, 12 + data_size, 8);

  // Each channel's bits by its own modulator, then laid out block by block.
  std::vector<std::vector<uint8_t>> bits(spec.channels, std::vector<uint8_t>(blocks * kBlock));
  for (unsigned c = 0; c < spec.channels; ++c) {
    double first = 0, second = 0, y = 0;
    const double step = 2 * M_PI * spec.frequency / kRate;
    for (uint64_t i = 0; i < samples; ++i) {
      const double x = spec.amplitude * std::sin(step * static_cast<double>(i));
      first += x - y;
      second += first - y;
      y = second >= 0 ? 1.0 : -1.0;
      if (y > 0) bits[c][i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    // Past the end: the idle pattern, which decodes to silence.
    for (uint64_t i = samples; i < blocks * kBlock * 8; ++i) {
      if (i % 2) bits[c][i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
  }
  for (uint64_t b = 0; b < blocks; ++b) {
    for (unsigned c = 0; c < spec.channels; ++c) {
      const auto from = bits[c].begin() + static_cast<long>(b * kBlock);
      out.insert(out.end(), from, from + kBlock);
    }
  }
  out.insert(out.end(), tag.begin(), tag.end());
  return write_file(path, out);
}

bool encode_with_tool(Tool tool, const std::string& wav, const std::string& target,
                      const ToolTags& tags, const std::vector<uint8_t>& cover) {
  std::string cover_path;
  if (!cover.empty()) {
    cover_path = target + ".cover.png";
    if (!write_file(cover_path, cover)) return false;
  }
  const int status = run_command(tool_command(tool, wav, target, tags, cover_path), kToolTimeoutMs);
  if (!cover_path.empty()) unlink(cover_path.c_str());
  if (status == 0) return true;
  unlink(target.c_str());
  return false;
}

}  // namespace fixtures
