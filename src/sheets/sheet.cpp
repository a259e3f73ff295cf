#include "sheets/sheet.h"

#include <libcue.h>

#include <memory>
#include <mutex>

namespace {

struct CdDeleter {
  void operator()(Cd* cd) const { cd_delete(cd); }
};

// libcue's parser keeps its state in globals: one parse at a time.
std::mutex parser_mutex;

std::string text_or_empty(const char* value) {
  return value ? std::string(value) : std::string();
}

std::string cdtext(Cdtext* text, Pti field) {
  return text ? text_or_empty(cdtext_get(field, text)) : std::string();
}

std::string rem(Rem* rem, RemType field) {
  return rem ? text_or_empty(rem_get(field, rem)) : std::string();
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool starts_with_word(std::string_view line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if ((line[i] & ~0x20) != word[i]) return false;
  }
  return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t';
}

// The disc's REM lines libcue does not keep, up to the first TRACK.
void read_unknown_rems(std::string_view text, Sheet& sheet) {
  const std::pair<std::string_view, std::string*> fields[] = {{"GENRE", &sheet.genre},
                                                              {"DISCNUMBER", &sheet.disc_number},
                                                              {"TOTALDISCS", &sheet.total_discs},
                                                              {"COMMENT", &sheet.comment}};
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (starts_with_word(line, "TRACK")) return;
    if (!starts_with_word(line, "REM")) continue;
    line = trim(line.substr(3));
    for (const auto& [name, target] : fields) {
      if (!starts_with_word(line, name)) continue;
      std::string_view value = trim(line.substr(name.size()));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      if (target->empty()) *target = std::string(value);
    }
  }
}

}  // namespace

std::optional<Sheet> parse_sheet(std::string_view text) {
  const std::string terminated(text);
  Sheet sheet;
  {
    std::lock_guard lock(parser_mutex);
    std::unique_ptr<Cd, CdDeleter> cd(cue_parse_string(terminated.c_str()));
    if (!cd) return std::nullopt;
    const int count = cd_get_ntrack(cd.get());
    if (count <= 0) return std::nullopt;
    Cdtext* disc_text = cd_get_cdtext(cd.get());
    sheet.title = cdtext(disc_text, PTI_TITLE);
    sheet.performer = cdtext(disc_text, PTI_PERFORMER);
    sheet.songwriter = cdtext(disc_text, PTI_SONGWRITER);
    Rem* disc_rem = cd_get_rem(cd.get());
    sheet.date = rem(disc_rem, REM_DATE);
    sheet.replaygain_album_gain = rem(disc_rem, REM_REPLAYGAIN_ALBUM_GAIN);
    sheet.replaygain_album_peak = rem(disc_rem, REM_REPLAYGAIN_ALBUM_PEAK);
    for (int i = 1; i <= count; ++i) {
      const Track* track = cd_get_track(cd.get(), i);
      if (!track) return std::nullopt;
      SheetTrack entry;
      entry.number = i;
      entry.file = text_or_empty(track_get_filename(track));
      Cdtext* track_text = track_get_cdtext(track);
      entry.title = cdtext(track_text, PTI_TITLE);
      entry.performer = cdtext(track_text, PTI_PERFORMER);
      entry.songwriter = cdtext(track_text, PTI_SONGWRITER);
      Rem* track_rem = track_get_rem(track);
      entry.replaygain_gain = rem(track_rem, REM_REPLAYGAIN_TRACK_GAIN);
      entry.replaygain_peak = rem(track_rem, REM_REPLAYGAIN_TRACK_PEAK);
      entry.index0 = track_get_index(track, 0);
      entry.index1 = track_get_index(track, 1);
      sheet.tracks.push_back(std::move(entry));
    }
  }
  read_unknown_rems(text, sheet);
  return sheet;
}
