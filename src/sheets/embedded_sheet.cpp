#include "sheets/embedded_sheet.h"

#include <FLAC/metadata.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

#include "cache/unique_fd.h"
#include "decoders/ffmpeg_handles.h"
#include "decoders/flac_blocks.h"
#include "decoders/head_reader.h"
#include "decoders/vorbis_comments.h"
#include "sheets/sheet_text.h"

namespace {

struct MetadataDeleter {
  void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using MetadataBlock = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

bool is_flac(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot != std::string::npos && strcasecmp(path.c_str() + dot + 1, "flac") == 0;
}

constexpr std::string_view kCuesheetName = "CUESHEET=";

std::optional<Sheet> cuesheet_entry(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    if (entry.size() < kCuesheetName.size() ||
        strncasecmp(entry.data(), kCuesheetName.data(), kCuesheetName.size()) != 0) {
      continue;
    }
    const std::string_view text = std::string_view(entry).substr(kCuesheetName.size());
    if (auto sheet = parse_sheet(sheet_text_to_utf8(text))) return sheet;
  }
  return std::nullopt;
}

std::optional<Sheet> flac_cuesheet_tag(const std::string& path) {
  FLAC__StreamMetadata* raw = nullptr;
  if (!FLAC__metadata_get_tags(path.c_str(), &raw)) return std::nullopt;
  const MetadataBlock tags(raw);
  const auto& comments = tags->data.vorbis_comment;
  std::vector<std::string> entries;
  for (uint32_t i = 0; i < comments.num_comments; ++i) {
    entries.emplace_back(reinterpret_cast<const char*>(comments.comments[i].entry),
                         comments.comments[i].length);
  }
  return cuesheet_entry(entries);
}

// What a plain FLAC file's metadata holds for a sheet, from its block headers and its first
// comment block alone: most files hold none, and libFLAC would read through every cover to
// say so. walked stays false for any other layout, which libFLAC then reads.
struct FlacSheetBlocks {
  bool walked = false;
  std::vector<std::string> comments;
  bool has_cuesheet_block = false;
};

FlacSheetBlocks flac_sheet_blocks(const std::string& path) {
  FlacSheetBlocks found;
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0) return found;
  const HeadReader file(fd.get(), 8192);
  bool seen_comments = false;
  found.walked = walk_flac_blocks(file, st.st_size, [&](int type, uint32_t length, off_t at) {
    if (type == kFlacCuesheet) found.has_cuesheet_block = true;
    if (type != kFlacVorbisComment || seen_comments) return true;
    seen_comments = true;
    std::string bytes(length, '\0');
    return file.read(bytes.data(), length, at) && parse_comment_list(bytes, found.comments);
  });
  return found;
}

// The block's offsets are in samples already; its last track is the lead-out.
std::optional<Sheet> flac_cuesheet_block(const std::string& path) {
  FLAC__StreamMetadata* raw = nullptr;
  if (!FLAC__metadata_get_cuesheet(path.c_str(), &raw)) return std::nullopt;
  const MetadataBlock block(raw);
  const auto& cuesheet = block->data.cue_sheet;
  Sheet sheet;
  sheet.positions_in_samples = true;
  for (uint32_t i = 0; i + 1 < cuesheet.num_tracks; ++i) {
    const auto& track = cuesheet.tracks[i];
    if (track.type != 0) continue;  // data, not audio
    SheetTrack entry;
    entry.number = track.number;
    for (uint32_t k = 0; k < track.num_indices; ++k) {
      const auto& index = track.indices[k];
      const auto position = static_cast<int64_t>(track.offset + index.offset);
      if (index.number == 0) entry.index0 = position;
      if (index.number == 1) entry.index1 = position;
    }
    sheet.tracks.push_back(std::move(entry));
  }
  if (sheet.tracks.empty()) return std::nullopt;
  return sheet;
}

std::optional<Sheet> flac_sheet(const std::string& path, bool& holds_none) {
  FlacSheetBlocks blocks = flac_sheet_blocks(path);
  if (!blocks.walked) {
    if (auto sheet = flac_cuesheet_tag(path)) return sheet;
    return flac_cuesheet_block(path);
  }
  if (auto sheet = cuesheet_entry(blocks.comments)) return sheet;
  if (blocks.has_cuesheet_block) return flac_cuesheet_block(path);
  holds_none = true;
  return std::nullopt;
}

const char* ffmpeg_cuesheet(const AVFormatContext* format) {
  if (const AVDictionaryEntry* entry = av_dict_get(format->metadata, "cuesheet", nullptr, 0)) {
    return entry->value;
  }
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (const AVDictionaryEntry* entry =
            av_dict_get(format->streams[i]->metadata, "cuesheet", nullptr, 0)) {
      return entry->value;
    }
  }
  return nullptr;
}

std::optional<Sheet> ffmpeg_cuesheet_tag(const std::string& path, bool& holds_none) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return std::nullopt;
  const FormatContext format(raw);
  const char* text = ffmpeg_cuesheet(format.get());
  if (!text) {
    holds_none = true;
    return std::nullopt;
  }
  return parse_sheet(sheet_text_to_utf8(text));
}

}  // namespace

std::optional<Sheet> read_embedded_sheet(const std::string& path, bool* holds_none) {
  bool none = false;
  auto sheet = is_flac(path) ? flac_sheet(path, none) : ffmpeg_cuesheet_tag(path, none);
  if (holds_none) *holds_none = none;
  return sheet;
}
