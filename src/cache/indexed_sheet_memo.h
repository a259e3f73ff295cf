#pragma once

#include <map>
#include <optional>
#include <string>

#include "cache/cache_database.h"
#include "cache/source_identity.h"
#include "sheets/image_sheet.h"

// The audio files of one directory found to hold no sheet inside, kept in the cache
// directory's index by their identity, so that a remount's first listing does not read every
// file again. Loaded in one query; without a cache directory it knows nothing and keeps nothing.
class IndexedSheetMemo final : public EmbeddedSheetMemo {
 public:
  explicit IndexedSheetMemo(const std::string& directory);

  bool holds_none(const std::string& name) override;
  void found_none(const std::string& name) override;

 private:
  // What lstat says of name, asked once: before the file is read for a sheet.
  const std::optional<SourceIdentity>& identity_of(const std::string& name);

  const std::string directory;
  const bool kept;                                            // there is a cache directory
  std::map<std::string, CacheDatabase::KnownSize> known;      // by path
  std::map<std::string, std::optional<SourceIdentity>> seen;  // by name
  std::map<std::string, bool> answers;                        // of holds_none, by name
};
