#include "sheets/track_decoder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "decoders/tag_kinds.h"
#include "decoders/vorbis_comments.h"
#include "encoders/forwarding_encoder.h"
#include "fs/dir_handle.h"
#include "logging/logger.h"

namespace {

constexpr int kMaxChannels = 64;

std::vector<std::string> directory_names(const std::string& directory) {
  std::vector<std::string> names;
  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  return names;
}

std::string track_title(const SheetTrack& track) {
  if (!track.title.empty()) return track.title;
  return "Track " + std::string(track.number < 10 ? "0" : "") + std::to_string(track.number);
}

// The sheet's tags of one track as comment entries, so that they take the same path as an
// image's own tags (ReplayGain included). Empty values are left out.
std::vector<Comment> sheet_comments(const Sheet& sheet, const SheetTrack& track, size_t total) {
  std::vector<Comment> comments = {
      {"TITLE", track_title(track)},
      {"ARTIST", track.performer.empty() ? sheet.performer : track.performer},
      {"COMPOSER", track.songwriter.empty() ? sheet.songwriter : track.songwriter},
      {"ALBUM", sheet.title},
      {"ALBUMARTIST", sheet.performer},
      {"TRACKNUMBER", std::to_string(track.number)},
      {"TRACKTOTAL", std::to_string(total)},
      {"DATE", sheet.date},
      {"GENRE", sheet.genre},
      {"DISCNUMBER", sheet.disc_number},
      {"DISCTOTAL", sheet.total_discs},
      {"REPLAYGAIN_ALBUM_GAIN", sheet.replaygain_album_gain},
      {"REPLAYGAIN_TRACK_GAIN", track.replaygain_gain},
  };
  std::erase_if(comments, [](const Comment& c) { return c.value.empty(); });
  return comments;
}

bool is_gain(const Comment& comment) {
  return comment.name.starts_with("REPLAYGAIN_");
}

// The image's own tags, less those the sheet replaces, and the track's length: place maps
// the sheet onto the image's stream once its length is known.
using Placement = std::function<const TrackRange*(uint64_t total_samples, unsigned sample_rate)>;

class ImageTagFilter final : public ForwardingEncoder {
 public:
  ImageTagFilter(Encoder& target, const std::vector<Comment>& replaced, Placement place,
                 int& channels)
      : ForwardingEncoder(target), place(std::move(place)), stream_channels(channels) {
    dropped = {Title, TrackNumber, TrackTotal};
    for (const Comment& comment : replaced) {
      if (auto kind = tag_kinds.find(comment.name); kind != tag_kinds.end()) {
        dropped.insert(kind->second);
      }
      sheet_has_gain = sheet_has_gain || is_gain(comment);
    }
  }

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override {
    const TrackRange* range = sample_rate > 0 ? place(total_samples, sample_rate) : nullptr;
    if (!range || channels > kMaxChannels) return -1;
    stream_channels = channels;
    return target.begin_stream(range->end - range->first, sample_rate, channels);
  }
  void add_text_tag(int kind, const char* value) override {
    if (dropped.count(kind) == 0) target.add_text_tag(kind, value);
  }
  void apply_gain(double decibels) override {
    if (!sheet_has_gain) target.apply_gain(decibels);
  }

 private:
  Placement place;
  int& stream_channels;
  std::set<int> dropped;
  bool sheet_has_gain = false;
};

// Passes on only the samples from skip on, and no more than remaining of them.
class SampleWindow final : public ForwardingEncoder {
 public:
  SampleWindow(Encoder& target, int channels, uint64_t& skip, uint64_t remaining)
      : ForwardingEncoder(target), channel_count(channels), skip(skip), remaining(remaining) {}

  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override {
    consumed += static_cast<uint64_t>(count);
    const uint64_t dropped = std::min<uint64_t>(skip, static_cast<uint64_t>(count));
    skip -= dropped;
    const uint64_t kept = std::min<uint64_t>(static_cast<uint64_t>(count) - dropped, remaining);
    if (kept == 0) return 0;
    remaining -= kept;
    const int32_t* shifted[kMaxChannels];
    for (int c = 0; c < channel_count; ++c) shifted[c] = channels[c] + dropped;
    return target.encode_samples(shifted, static_cast<int>(kept), bits_per_sample);
  }

  uint64_t consumed = 0;

 private:
  int channel_count;
  uint64_t& skip;
  uint64_t remaining;
};

}  // namespace

TrackDecoder::TrackDecoder(TrackSource track, std::unique_ptr<Decoder> image_decoder)
    : track(std::move(track)), image(std::move(image_decoder)) {}

int TrackDecoder::open_source(const char*) {
  const size_t slash = track.image.rfind('/');
  const std::string directory = track.image.substr(0, slash);
  const std::string image_name = track.image.substr(slash + 1);
  // Of the directory's sheets only the track's own is read again: the listing chose it.
  std::vector<std::string> names = directory_names(directory);
  std::erase_if(names, [&](const std::string& name) {
    return name != track.sheet_name && is_sheet_name(name);
  });
  const DirectorySheets sheets = read_directory_sheets(directory, names);
  auto sheet = locate_image_sheet(sheets, image_name);
  const auto here = [&](const SheetTrack& t) {
    return t.number == track.number && t.file == sheet->file;
  };
  if (!sheet || sheet->sheet_name != track.sheet_name ||
      std::none_of(sheet->sheet.tracks.begin(), sheet->sheet.tracks.end(), here)) {
    Logging::Logger(Logging::ERROR)
        << "Track " << track.number << " of " << track.image << " is no longer in its sheet.";
    return -1;
  }
  located = std::move(*sheet);
  return image->open_source(track.image.c_str());
}

// A changed sheet changes the track as much as a changed image does.
int64_t TrackDecoder::source_mtime() {
  int64_t mtime = image->source_mtime();
  if (track.sheet_name.empty()) return mtime;
  const std::string sheet_path =
      track.image.substr(0, track.image.rfind('/') + 1) + track.sheet_name;
  struct stat st;
  if (stat(sheet_path.c_str(), &st) == 0) mtime = std::max<int64_t>(mtime, st.st_mtime);
  return mtime;
}

// The image's length is first known as its decoder announces its stream: only then are the
// sheet's tracks placed in it.
const TrackRange* TrackDecoder::place(uint64_t total_samples, unsigned sample_rate) {
  auto fitted = fit_image_sheet(track.image, located, total_samples, sample_rate);
  if (!fitted) return nullptr;
  for (const TrackRange& candidate : fitted->ranges) {
    if (candidate.number != track.number) continue;
    range = candidate;
    track_total = fitted->ranges.size();
    return &range;
  }
  return nullptr;
}

int TrackDecoder::read_tags(Encoder* encoder) {
  const auto own = std::find_if(located.sheet.tracks.begin(), located.sheet.tracks.end(),
                                [&](const SheetTrack& t) { return t.number == track.number; });
  const auto placement = [this](uint64_t total, unsigned rate) { return place(total, rate); };
  ImageTagFilter filter(*encoder, sheet_comments(located.sheet, *own, 0), placement, channels);
  if (image->read_tags(&filter) == -1) return -1;
  if (track_total == 0) return -1;  // no stream was announced
  CommentScan scan(encoder);
  for (const Comment& comment : sheet_comments(located.sheet, *own, track_total)) {
    scan.take(comment);
  }
  scan.finish();
  // Not a comment name of the image's tags, which pass no comment on.
  if (!located.sheet.comment.empty())
    encoder->add_text_tag(CommentText, located.sheet.comment.c_str());
  return 0;
}

// Seeks the image where it can; otherwise decodes from where it is and drops up to there.
int TrackDecoder::start_at(uint64_t image_sample) {
  skip = 0;
  if (image->seek_to_sample(image_sample) == 0) {
    position = image_sample;
  } else if (image_sample >= position) {
    skip = image_sample - position;
  } else {
    return -1;
  }
  started = true;
  return 0;
}

int TrackDecoder::seek_to_sample(uint64_t sample) {
  if (sample > range.end - range.first) return -1;
  return start_at(range.first + sample);
}

int TrackDecoder::decode_chunk(Encoder* encoder) {
  if (!started && start_at(range.first) == -1) return -1;
  const uint64_t next = position + skip;
  if (next >= range.end) return 1;
  SampleWindow window(*encoder, channels, skip, range.end - next);
  const int status = image->decode_chunk(&window);
  position += window.consumed;
  if (status == -1) return -1;
  if (position + skip >= range.end) return 1;
  if (status == 1) {
    Logging::Logger(Logging::ERROR) << "The image ends inside track " << track.number << ".";
    return -1;
  }
  return 0;
}

std::unique_ptr<Decoder> make_decoder_for_source(const std::string& source,
                                                 std::string& extension) {
  auto track = parse_track_source(source);
  if (!track) return make_source_decoder(source, extension);
  auto image = make_source_decoder(track->image, extension);
  if (!image) return nullptr;
  return std::make_unique<TrackDecoder>(std::move(*track), std::move(image));
}

std::unique_ptr<Decoder> open_decoder_for_source(std::unique_ptr<Decoder> decoder,
                                                 const std::string& source,
                                                 const std::string& path) {
  if (!decoder) return nullptr;
  // A track must stay a track: a probe would read its whole image instead.
  if (parse_track_source(source)) {
    return decoder->open_source(path.c_str()) == 0 ? std::move(decoder) : nullptr;
  }
  return open_source_decoder(std::move(decoder), path);
}
