#include "support/tool_fixtures.h"

#include <unistd.h>

#include "support/mount.h"

namespace fixtures {

namespace {

constexpr int kToolTimeoutMs = 60000;

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
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
