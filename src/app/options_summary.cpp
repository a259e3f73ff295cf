#include "app/options_summary.h"

#include <iomanip>

#include "app/settings.h"

namespace {

// Labels are padded to one width so that the values line up in the log.
std::ostream& label(std::ostream& out, const char* name) {
  return out << '\n' << std::left << std::setw(16) << (std::string(name) + ":");
}

const char* text_or_empty(const char* text) {
  return text == nullptr ? "" : text;
}

}  // namespace

void write_options_summary(std::ostream& out) {
  out << "OLVEX options:";
  label(out, "basepath") << text_or_empty(settings.basepath);
  label(out, "bitrate") << settings.bitrate;
  label(out, "desttype") << text_or_empty(settings.desttype);
  label(out, "gainmode") << settings.gainmode;
  label(out, "gainref") << settings.gainref;
  label(out, "log_format") << text_or_empty(settings.log_format);
  label(out, "log_maxlevel") << text_or_empty(settings.log_maxlevel);
  label(out, "log_stderr") << settings.log_stderr;
  label(out, "log_syslog") << settings.log_syslog;
  label(out, "logfile") << text_or_empty(settings.logfile);
  label(out, "quality") << settings.quality;
  label(out, "statcachesize") << settings.statcachesize;
  label(out, "vbr") << settings.vbr;
  label(out, "attrcachesize") << settings.attrcachesize;
  label(out, "cachedir") << text_or_empty(settings.cachedir);
  label(out, "cachesize") << settings.cachesize;
  label(out, "id3v2_version") << settings.id3v2_version;
  label(out, "covers") << text_or_empty(settings.covers);
  label(out, "segments") << settings.segments;
  label(out, "threads") << settings.threads;
  label(out, "readahead") << settings.readahead;
  label(out, "gapless") << settings.gapless;
  label(out, "cuesheets") << settings.cuesheets;
}
