#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cache/source_identity.h"
#include "fs/reader.h"

class Transcoder;

// The Transcoders of open files, one per source in one state: every open of a source while
// it is unchanged reads from the same Transcoder, so each byte is encoded once and a second
// reader reads what the first has encoded. The last reader to go frees it.
class SharedTranscodes {
 public:
  // A reader of the Transcoder for source_path in the given state, made and initialized
  // when none is open; key is source_path's output_key. nullptr with errno when it cannot
  // be initialized.
  std::unique_ptr<Reader> open(const std::string& source_path, const std::string& key,
                               const SourceIdentity& identity);

  // How many sources have a Transcoder open now.
  size_t open_sources();

 private:
  // One per source state; its lock makes concurrent first opens build one Transcoder.
  struct Slot {
    std::mutex mutex;
    std::weak_ptr<Transcoder> transcoder;
  };

  std::shared_ptr<Slot> slot_for(const std::string& key);

  std::mutex mutex;  // guards slots only; no Transcoder work is done under it
  std::map<std::string, std::shared_ptr<Slot>> slots;
};

extern SharedTranscodes shared_transcodes;
