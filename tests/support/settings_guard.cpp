#include "settings_guard.h"

#include "fs/listing_read_ahead.h"
#include "pool/encode_pool.h"

// As at unmount: the pool's running jobs end, its queue goes, and sizes read ahead under
// these settings are forgotten. The next use makes a pool for the next settings.
SettingsGuard::~SettingsGuard() {
  stop_encode_pool();
  stop_read_ahead();
  settings = saved;
}
