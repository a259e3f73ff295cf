#include "cache/indexed_sheet_memo.h"

#include <sys/stat.h>

#include "cache/disk_cache.h"
#include "logging/logger.h"

namespace {

// The index keeps these beside the sizes, under a fingerprint of their own: the answer
// depends on the file alone, not on the output settings. Raised when the way a sheet is
// found inside a file changes.
constexpr const char* kNoSheetInside = "no sheet inside r1";

}  // namespace

IndexedSheetMemo::IndexedSheetMemo(const std::string& directory)
    : directory(directory), kept(disk_cache() != nullptr) {
  if (kept) known = disk_cache()->database->sizes_in(directory, kNoSheetInside);
}

const std::optional<SourceIdentity>& IndexedSheetMemo::identity_of(const std::string& name) {
  auto [it, added] = seen.try_emplace(name);
  struct stat st;
  if (added && lstat((directory + "/" + name).c_str(), &st) == 0) {
    it->second = SourceIdentity::of(st);
  }
  return it->second;
}

bool IndexedSheetMemo::holds_none(const std::string& name) {
  if (!kept) return false;
  auto [answer, added] = answers.try_emplace(name, false);
  if (!added) return answer->second;
  const std::optional<SourceIdentity>& now = identity_of(name);
  const auto row = known.find(directory + "/" + name);
  if (!now || row == known.end() || !(*now == row->second.id)) return false;
  Logging::Logger(Logging::DEBUG) << "No sheet inside " << directory << "/" << name
                                  << ", as the cache directory remembers.";
  return answer->second = true;
}

void IndexedSheetMemo::found_none(const std::string& name) {
  if (!kept) return;
  // The identity from before the file was read: a change while it was read moves the file
  // on from it, and the row is never found.
  if (const std::optional<SourceIdentity>& before = identity_of(name)) {
    disk_cache()->database->store_size(directory + "/" + name, *before, kNoSheetInside, 0);
  }
}
