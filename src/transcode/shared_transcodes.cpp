#include "transcode/shared_transcodes.h"

#include <iterator>

#include "transcode/transcoder.h"

SharedTranscodes shared_transcodes;

namespace {

// What an open file handle holds: its share of the Transcoder.
class SharedReader : public Reader {
 public:
  explicit SharedReader(std::shared_ptr<Transcoder> transcoder)
      : transcoder(std::move(transcoder)) {}
  int64_t read(char* destination, int64_t offset, uint64_t size) override {
    return transcoder->read(destination, offset, size);
  }

 private:
  std::shared_ptr<Transcoder> transcoder;
};

std::string state_key(const std::string& key, const SourceIdentity& id) {
  return key + "\n" + id.text();
}

}  // namespace

std::shared_ptr<SharedTranscodes::Slot> SharedTranscodes::slot_for(const std::string& key) {
  std::lock_guard lock(mutex);
  // Slots of files no longer open go now and then, so the map stays as small as what is open.
  if (slots.size() >= 64) {
    for (auto it = slots.begin(); it != slots.end();) {
      const bool idle = it->second.use_count() == 1 && it->second->transcoder.expired();
      it = idle ? slots.erase(it) : std::next(it);
    }
  }
  auto& slot = slots[key];
  if (!slot) slot = std::make_shared<Slot>();
  return slot;
}

std::unique_ptr<Reader> SharedTranscodes::open(const std::string& source_path,
                                               const std::string& key,
                                               const SourceIdentity& identity) {
  const std::shared_ptr<Slot> slot = slot_for(state_key(key, identity));
  std::lock_guard lock(slot->mutex);
  std::shared_ptr<Transcoder> transcoder = slot->transcoder.lock();
  if (!transcoder) {
    transcoder = std::make_shared<Transcoder>(source_path);
    if (!transcoder->initialize()) return nullptr;
    slot->transcoder = transcoder;
  }
  return std::make_unique<SharedReader>(std::move(transcoder));
}

size_t SharedTranscodes::open_sources() {
  std::lock_guard lock(mutex);
  size_t count = 0;
  for (const auto& [key, slot] : slots) count += slot->transcoder.expired() ? 0 : 1;
  return count;
}
