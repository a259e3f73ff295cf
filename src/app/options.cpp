#include "app/options.h"

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#include "app/operations.h"
#include "app/settings.h"
#include "app/usage.h"
#include "app/version.h"

#define OLVEX_OPT(templ, field, value) \
  { templ, offsetof(Settings, field), value }

// "-d" and "debug" appear twice: the first sets debug, the second hands the
// argument to the FUSE library for its own debug output.
const fuse_opt option_table[] = {
    OLVEX_OPT("-b %d", bitrate, 0),
    OLVEX_OPT("bitrate=%d", bitrate, 0),
    OLVEX_OPT("-d", debug, 1),
    OLVEX_OPT("debug", debug, 1),
    OLVEX_OPT("--desttype=%s", desttype, 0),
    OLVEX_OPT("desttype=%s", desttype, 0),
    OLVEX_OPT("--gainmode=%d", gainmode, 0),
    OLVEX_OPT("gainmode=%d", gainmode, 0),
    OLVEX_OPT("--gainref=%f", gainref, 0),
    OLVEX_OPT("gainref=%f", gainref, 0),
    OLVEX_OPT("--log_format=%s", log_format, 0),
    OLVEX_OPT("log_format=%s", log_format, 0),
    OLVEX_OPT("--log_maxlevel=%s", log_maxlevel, 0),
    OLVEX_OPT("log_maxlevel=%s", log_maxlevel, 0),
    OLVEX_OPT("--log_stderr", log_stderr, 1),
    OLVEX_OPT("log_stderr", log_stderr, 1),
    OLVEX_OPT("--log_syslog", log_syslog, 1),
    OLVEX_OPT("log_syslog", log_syslog, 1),
    OLVEX_OPT("--logfile=%s", logfile, 0),
    OLVEX_OPT("logfile=%s", logfile, 0),
    OLVEX_OPT("--quality=%d", quality, 0),
    OLVEX_OPT("quality=%d", quality, 0),
    OLVEX_OPT("--statcachesize=%u", statcachesize, 0),
    OLVEX_OPT("statcachesize=%u", statcachesize, 0),
    OLVEX_OPT("--vbr", vbr, 1),
    OLVEX_OPT("vbr", vbr, 1),
    OLVEX_OPT("--attrcachesize=%u", attrcachesize, 0),
    OLVEX_OPT("attrcachesize=%u", attrcachesize, 0),
    OLVEX_OPT("--cachedir=%s", cachedir, 0),
    OLVEX_OPT("cachedir=%s", cachedir, 0),
    OLVEX_OPT("--id3v2_version=%d", id3v2_version, 0),
    OLVEX_OPT("id3v2_version=%d", id3v2_version, 0),
    OLVEX_OPT("--covers=%s", covers, 0),
    OLVEX_OPT("covers=%s", covers, 0),
    OLVEX_OPT("--threads=%u", threads, 0),
    OLVEX_OPT("threads=%u", threads, 0),
    OLVEX_OPT("--readahead=%u", readahead, 0),
    OLVEX_OPT("readahead=%u", readahead, 0),
    FUSE_OPT_KEY("--segments=", KEY_SEGMENTS),
    FUSE_OPT_KEY("segments=", KEY_SEGMENTS),
    FUSE_OPT_KEY("--gapless=", KEY_GAPLESS),
    FUSE_OPT_KEY("gapless=", KEY_GAPLESS),
    FUSE_OPT_KEY("--cuesheets=", KEY_CUESHEETS),
    FUSE_OPT_KEY("cuesheets=", KEY_CUESHEETS),
    FUSE_OPT_KEY("--cachesize=", KEY_CACHESIZE),
    FUSE_OPT_KEY("cachesize=", KEY_CACHESIZE),
    FUSE_OPT_KEY("-h", KEY_HELP),
    FUSE_OPT_KEY("--help", KEY_HELP),
    FUSE_OPT_KEY("-V", KEY_VERSION),
    FUSE_OPT_KEY("--version", KEY_VERSION),
    FUSE_OPT_KEY("-d", KEY_DEBUG),
    FUSE_OPT_KEY("debug", KEY_DEBUG),
    FUSE_OPT_END,
};

#undef OLVEX_OPT

namespace {

int store_switch(const char* arg, const char* name, int& field) {
  const char* value = std::strchr(arg, '=') + 1;
  if (parse_switch(value, field)) return 0;
  std::cerr << "Invalid value for " << name << " (on or off): " << value << std::endl;
  return -1;
}

}  // namespace

int handle_option(void*, const char* arg, int key, fuse_args* outargs) {
  switch (key) {
    case FUSE_OPT_KEY_NONOPT:
      if (settings.basepath == nullptr) {
        settings.basepath = arg;
        return 0;
      }
      return 1;
    case KEY_HELP:
      print_usage(outargs->argv[0]);
      // "-ho" makes the FUSE library list its own options without a usage line.
      fuse_opt_add_arg(outargs, "-ho");
      fuse_main_real(outargs->argc, outargs->argv, &operations_table, sizeof(operations_table),
                     nullptr);
      std::exit(1);
    case KEY_CACHESIZE: {
      const char* value = std::strchr(arg, '=') + 1;
      if (parse_byte_size(value, settings.cachesize)) return 0;
      std::cerr << "Invalid cache size: " << value << std::endl;
      return -1;
    }
    case KEY_SEGMENTS:
      return store_switch(arg, "segments", settings.segments);
    case KEY_GAPLESS:
      return store_switch(arg, "gapless", settings.gapless);
    case KEY_CUESHEETS:
      return store_switch(arg, "cuesheets", settings.cuesheets);
    case KEY_VERSION:
      print_version(std::cout);
      std::exit(0);
    default:
      return 1;
  }
}

bool parse_byte_size(const char* text, uint64_t& bytes) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (errno != 0) return false;
  int shift = 0;
  switch (*end) {
    case '\0':
      break;
    case 'K':
    case 'k':
      shift = 10;
      break;
    case 'M':
    case 'm':
      shift = 20;
      break;
    case 'G':
    case 'g':
      shift = 30;
      break;
    default:
      return false;
  }
  if (*end != '\0' && end[1] != '\0') return false;
  if (number > (std::numeric_limits<uint64_t>::max() >> shift)) return false;
  bytes = uint64_t{number} << shift;
  return true;
}

bool parse_switch(const char* text, int& value) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "on") == 0) {
    value = 1;
    return true;
  }
  if (std::strcmp(text, "off") == 0) {
    value = 0;
    return true;
  }
  return false;
}
