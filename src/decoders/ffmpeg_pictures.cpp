#include "decoders/ffmpeg_pictures.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <climits>
#include <cstring>
#include <map>
#include <string_view>

#include "decoders/image_type.h"
#include "encoders/encoder.h"

namespace {

constexpr int kFrontCover = 3;

// The ID3v2 picture types by the names FFmpeg gives them, and the APEv2 cover keys.
const std::map<std::string, int, std::less<>> picture_types = {
    {"Other", 0},
    {"32x32 pixels 'file icon'", 1},
    {"Other file icon", 2},
    {"Cover (front)", 3},
    {"Cover (back)", 4},
    {"Leaflet page", 5},
    {"Media (e.g. label side of CD)", 6},
    {"Lead artist/lead performer/soloist", 7},
    {"Artist/performer", 8},
    {"Conductor", 9},
    {"Band/Orchestra", 10},
    {"Composer", 11},
    {"Lyricist/text writer", 12},
    {"Recording Location", 13},
    {"During recording", 14},
    {"During performance", 15},
    {"Movie/video screen capture", 16},
    {"A bright coloured fish", 17},
    {"Illustration", 18},
    {"Band/artist logotype", 19},
    {"Publisher/Studio logotype", 20},
    {"Cover Art (Other)", 0},
    {"Cover Art (Icon)", 1},
    {"Cover Art (Other Icon)", 2},
    {"Cover Art (Front)", 3},
    {"Cover Art (Back)", 4},
    {"Cover Art (Leaflet)", 5},
    {"Cover Art (Media)", 6},
    {"Cover Art (Lead Artist)", 7},
    {"Cover Art (Artist)", 8},
    {"Cover Art (Conductor)", 9},
    {"Cover Art (Band)", 10},
    {"Cover Art (Composer)", 11},
    {"Cover Art (Lyricist)", 12},
    {"Cover Art (Recording Location)", 13},
    {"Cover Art (During Recording)", 14},
    {"Cover Art (During Performance)", 15},
    {"Cover Art (Video Capture)", 16},
    {"Cover Art (Fish)", 17},
    {"Cover Art (Illustration)", 18},
    {"Cover Art (Band Logotype)", 19},
    {"Cover Art (Publisher Logotype)", 20},
};

const char* value_of(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
  return entry ? entry->value : nullptr;
}

}  // namespace

int attached_picture_type(const AVDictionary* metadata) {
  // FLAC-style pictures name their type in "comment"; APEv2 covers are keyed by it.
  if (const char* comment = value_of(metadata, "comment")) {
    const auto type = picture_types.find(std::string_view(comment));
    if (type != picture_types.end()) return type->second;
  }
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    const auto type = picture_types.find(std::string_view(entry->key));
    if (type != picture_types.end()) return type->second;
  }
  return kFrontCover;
}

void add_attached_pictures(const AVFormatContext* format, Encoder* encoder) {
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* stream = format->streams[i];
    if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    const AVPacket& picture = stream->attached_pic;
    if (!picture.data || picture.size <= 0) continue;
    const std::string mime_type = image_mime_type(picture.data, static_cast<size_t>(picture.size));
    const char* title = value_of(stream->metadata, "title");
    encoder->add_picture(mime_type.c_str(), attached_picture_type(stream->metadata),
                         title ? title : "", picture.data, picture.size);
  }
}
