#include "fs/listing_read_ahead.h"

#include "app/settings.h"
#include "cache/attr_cache.h"
#include "cache/disk_cache.h"
#include "cache/remembered_size.h"
#include "decoders/prefetch_head.h"
#include "fs/attr_read_ahead.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "pool/encode_pool.h"
#include "transcode/output_key.h"
#include "transcode/output_size.h"

namespace {

bool measure_and_keep(const std::string& source, const std::string& key,
                      const SourceIdentity& identity, uint64_t& size) {
  if (!measure_output_size(source, size)) return false;
  remember_size_on_disk(key, identity, size);
  return true;
}

// With sheets on, the listing's sheet lookup has just asked for these heads (all but those
// the cache directory knows to hold no sheet, whose sizes it mostly knows too): asking
// again costs a tenth of a warm scan's time.
void prefetch_measured(const std::string& source) {
  if (!settings.cuesheets) prefetch_head(source);
}

AttrReadAhead read_ahead(encode_pool, measure_and_keep, prefetch_measured);

// The listed regular files shown under another name: the ones a stat of that name measures.
// A listing passes on only what it shows, so each shown name has one source here.
std::vector<const ListedEntry*> shown_transcoded(const std::vector<ListedEntry>& entries) {
  std::vector<const ListedEntry*> shown;
  for (const ListedEntry& entry : entries) {
    if (S_ISREG(entry.record.st_mode) && to_output_name(entry.name) != entry.name) {
      shown.push_back(&entry);
    }
  }
  return shown;
}

}  // namespace

bool read_ahead_wanted() {
  return settings.attrcachesize != 0;
}

void read_ahead_listing(const std::string& listed_directory, const struct stat& directory_record,
                        const std::vector<ListedEntry>& entries) {
  // Sources are named as a lookup names them: the root's path ends with a slash.
  std::string directory = listed_directory;
  if (!directory.empty() && directory.back() == '/') directory.pop_back();

  std::vector<AttrReadAhead::File> files;
  for (const ListedEntry* entry : shown_transcoded(entries)) {
    AttrReadAhead::File file;
    file.source = directory + "/" + entry->name;
    file.key = output_key(file.source);
    file.identity = SourceIdentity::of(entry->record);
    if (!attr_cache.holds(file.key, file.identity)) files.push_back(std::move(file));
  }
  if (files.empty()) return;

  size_t known_count = 0;
  if (DiskCache* disk = disk_cache()) {
    const auto known = disk->database->sizes_in(directory, disk->fingerprint);
    for (AttrReadAhead::File& file : files) {
      const auto it = known.find(file.key);
      if (it == known.end() || !(it->second.id == file.identity)) continue;
      file.known = true;
      file.size = it->second.size;
      ++known_count;
    }
  }
  Logging::Logger(Logging::DEBUG) << "Listing " << directory << ": " << known_count
                                  << " sizes from the index, " << files.size() - known_count
                                  << " to work out.";
  read_ahead.listed(directory, directory_record, std::move(files));
}

bool read_ahead_size(const std::string& key, const SourceIdentity& identity, uint64_t& size) {
  return read_ahead.answer(key, identity, size);
}

void stop_read_ahead() {
  read_ahead.clear();
}
