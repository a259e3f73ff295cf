#include "app/settings.h"

const Settings default_settings = {
    nullptr,               // basepath
    128,                   // bitrate
    0,                     // debug
    "mp3",                 // desttype
    1,                     // gainmode
    89.0f,                 // gainref
    "[%T] tid=%I %L: %M",  // log_format
    "INFO",                // log_maxlevel
    0,                     // log_stderr
    0,                     // log_syslog
    "",                    // logfile
    5,                     // quality
    0,                     // statcachesize
    0,                     // vbr
    50000,                 // attrcachesize
    "",                    // cachedir
    uint64_t{1} << 30,     // cachesize
    4,                     // id3v2_version
    "embedded",            // covers
    1,                     // segments
    0,                     // threads
    60,                    // readahead
    1,                     // gapless
    1,                     // cuesheets
};

Settings settings = default_settings;
