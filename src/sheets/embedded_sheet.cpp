#include "sheets/embedded_sheet.h"

#include <FLAC/metadata.h>
#include <strings.h>

#include <memory>

#include "decoders/ffmpeg_handles.h"
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

std::optional<Sheet> flac_cuesheet_tag(const std::string& path) {
  FLAC__StreamMetadata* raw = nullptr;
  if (!FLAC__metadata_get_tags(path.c_str(), &raw)) return std::nullopt;
  const MetadataBlock tags(raw);
  const auto& comments = tags->data.vorbis_comment;
  constexpr std::string_view kName = "CUESHEET=";
  for (uint32_t i = 0; i < comments.num_comments; ++i) {
    const std::string_view entry(reinterpret_cast<const char*>(comments.comments[i].entry),
                                 comments.comments[i].length);
    if (entry.size() < kName.size() || strncasecmp(entry.data(), kName.data(), kName.size()) != 0) {
      continue;
    }
    if (auto sheet = parse_sheet(sheet_text_to_utf8(entry.substr(kName.size())))) return sheet;
  }
  return std::nullopt;
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

std::optional<Sheet> ffmpeg_cuesheet_tag(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return std::nullopt;
  const FormatContext format(raw);
  const char* text = ffmpeg_cuesheet(format.get());
  if (!text) return std::nullopt;
  return parse_sheet(sheet_text_to_utf8(text));
}

}  // namespace

std::optional<Sheet> read_embedded_sheet(const std::string& path) {
  if (!is_flac(path)) return ffmpeg_cuesheet_tag(path);
  if (auto sheet = flac_cuesheet_tag(path)) return sheet;
  return flac_cuesheet_block(path);
}
