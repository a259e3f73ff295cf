#include "cache/output_fingerprint.h"

#include <id3tag.h>
#include <lame/lame.h>

#include <sstream>

#include "app/settings.h"

std::string output_fingerprint() {
  std::ostringstream text;
  text.precision(9);  // enough for any float to come back unchanged
  // statcachesize only matters as on or off: it decides whether sizes are exact.
  text << "r" << kOutputRevision << ";t=" << settings.desttype << ";b=" << settings.bitrate
       << ";v=" << settings.vbr << ";q=" << settings.quality << ";g=" << settings.gainmode << ","
       << settings.gainref << ";x=" << (settings.statcachesize != 0 ? 1 : 0)
       << ";id3v2=" << settings.id3v2_version << ";c=" << settings.covers
       << ";seg=" << settings.segments << ";gap=" << settings.gapless
       << ";lame=" << get_lame_version() << ";id3tag=" << ID3_VERSION;
  return text.str();
}
