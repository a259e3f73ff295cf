#include "app/options.h"

#include <cstddef>
#include <cstdlib>
#include <iostream>

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
    FUSE_OPT_KEY("-h", KEY_HELP),
    FUSE_OPT_KEY("--help", KEY_HELP),
    FUSE_OPT_KEY("-V", KEY_VERSION),
    FUSE_OPT_KEY("--version", KEY_VERSION),
    FUSE_OPT_KEY("-d", KEY_DEBUG),
    FUSE_OPT_KEY("debug", KEY_DEBUG),
    FUSE_OPT_END,
};

#undef OLVEX_OPT

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
    case KEY_VERSION:
      print_version(std::cout);
      std::exit(0);
    default:
      return 1;
  }
}
