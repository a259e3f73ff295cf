#include "fs/path_mapping.h"

#include "app/settings.h"
#include "cache/dir_index.h"
#include "cache/indexed_sheet_memo.h"
#include "decoders/decoder.h"

namespace {

// A few hundred thousand names of a large library take a few tens of MB at most.
constexpr size_t kIndexedNames = 200000;

// A real file of the shown name first, then the sources in their fixed order.
int rank_of(const std::string& extension) {
  if (extension == settings.desttype) return 0;
  const int rank = source_rank(extension);
  return rank < 0 ? -1 : rank + 1;
}

DirectoryTracks list_tracks(const std::string& directory, const std::vector<std::string>& names) {
  if (!settings.cuesheets) return {};
  IndexedSheetMemo memo(directory);
  return find_directory_tracks(directory, names, settings.desttype, to_output_name, &memo);
}

DirIndex directory_index(kIndexedNames, rank_of, list_tracks);

}  // namespace

std::string to_source_path(const std::string& path) {
  return settings.basepath + path;
}

std::string to_output_name(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name;
  if (!has_decoder(name.substr(dot + 1))) return name;
  return name.substr(0, dot + 1) + settings.desttype;
}

std::shared_ptr<const DirectoryTracks> tracks_of_directory(const std::string& directory) {
  return directory_index.tracks(directory);
}

std::string find_source(const std::string& path) {
  const std::string full = to_source_path(path);
  const size_t dot = full.rfind('.');
  if (dot == std::string::npos) return full;
  if (full.compare(dot + 1, std::string::npos, settings.desttype) != 0) return full;

  const size_t slash = full.rfind('/');
  if (slash > dot) return full;  // the "." belongs to a directory name
  const std::string directory = full.substr(0, slash);
  const std::string prefix = full.substr(slash + 1, dot - slash);

  const DirIndex::Shown shown =
      directory_index.find_shown(directory, full.substr(slash + 1), prefix);
  if (shown.track) return shown.value;
  return shown.value.empty() ? full : directory + "/" + shown.value;
}

ShownEntries::ShownEntries(const std::string& directory)
    : winners(directory_index.all(directory)) {}

bool ShownEntries::shows(const std::string& name) const {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || !has_decoder(name.substr(dot + 1))) return true;
  if (!winners) return true;
  const auto found = winners->find(name.substr(0, dot + 1));
  return found == winners->end() || found->second == name;
}
