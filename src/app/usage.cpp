#include "app/usage.h"

#include <iostream>

// Begins with an empty line so that a blank line follows the usage line.
const std::string_view option_help = R"usage(
Mount IN_DIR on OUT_DIR, converting FLAC/Ogg Vorbis files to MP3 upon access.

Encoding options:
    -b RATE, -obitrate=RATE
                           encoding bitrate: Acceptable values for RATE
                           include 96, 112, 128, 160, 192, 224, 256, and
                           320; 128 is the default
    --gainmode=<0,1,2>, -ogainmode=<0,1,2>
                           what to do with ReplayGain tags:
                           0 - ignore, 1 - prefer album gain (default),
                           2 - prefer track gain
    --gainref=REF, -ogainref=REF
                           reference value to use for ReplayGain in
                           decibels: defaults to 89 dB
    --log_format=FORMAT, -olog_format=FORMAT
                           format string to use for log messages. The following
                           tokens in the string will be substituted as
                           indicated:
                             %I - thread ID
                             %L - log level
                             %M - log message
                             %T - time, formatted as YYYY-MM-DD HH:MM:SS
                           default: [%T] tid=%I %L: %M
    --log_maxlevel=LEVEL, -olog_maxlevel=LEVEL
                           maximum level of messages to log, either ERROR,
                           WARNING, INFO, or DEBUG. Defaults to INFO, and
                           always set to DEBUG in debug mode. Note that the
                           other log flags must also be set to enable logging
    --log_stderr, -olog_stderr
                           enable outputting logging messages to stderr.
                           Enabled in debug mode.
    --log_syslog, -olog_syslog
                           enable outputting logging messages to syslog
    --logfile=FILE, -ologfile=FILE
                           file to output log messages to. By default, no
                           file will be written.
    --quality=<0..9>, -oquality=<0..9>
                           encoding quality: 0 is slowest, 9 is fastest;
                           5 is the default
    --statcachesize=SIZE, -ostatcachesize=SIZE
                           Set the number of entries for the file stats
                           cache.  Necessary for decent performance when
                           VBR is enabled.  Each entry takes 100-200 bytes.
    --vbr, -ovbr           Use variable bit rate encoding.  When set, the
                           bit rate set with '-b' sets the maximum bit rate.
                           Performance will be terrible unless the
                           statcachesize is enabled.

General options:
    -h, --help             display this help and exit
    -V, --version          output version information and exit
)usage";

const std::string_view extended_option_help = R"usage(Cache options:
    --attrcachesize=N, -oattrcachesize=N
                           number of transcoded files whose attributes are
                           remembered in memory; 50000 is the default and
                           0 turns the cache off
    --cachedir=DIR, -ocachedir=DIR
                           keep what olvex learns (exact sizes, and the
                           encoded files) in DIR, so that it survives a
                           remount. DIR is created if missing
    --cachesize=SIZE, -ocachesize=SIZE
                           most bytes of encoded files kept in DIR, with an
                           optional K, M or G suffix; 1G is the default

Output options:
    --id3v2_version=<3,4>, -oid3v2_version=<3,4>
                           version of the ID3v2 tag: 4 (default), or 3 for
                           devices that read only ID3v2.3
    --covers=MODE, -ocovers=MODE
                           cover pictures: embedded (default) copies the
                           source's own; folder also takes cover.jpg and
                           the like beside a source without one; none
                           writes no pictures
    --gapless=on|off, -ogapless=on|off
                           begin every CBR file with an information frame
                           that tells players the encoder's delay and
                           padding, so that albums play without gaps; on
                           is the default
    --cuesheets=on|off, -ocuesheets=on|off
                           list an album image that has a CUE sheet (beside
                           it or inside it) as one MP3 per track; on is the
                           default

Speed options:
    --segments=on|off, -osegments=on|off
                           encode CBR files in independent segments, so
                           that a read far into a file encodes only what it
                           needs and one file uses every core; on is the
                           default
    --threads=N, -othreads=N
                           most encoders running at once, over all files;
                           the number of online cores is the default
    --readahead=SECONDS, -oreadahead=SECONDS
                           seconds of audio encoded ahead of a file that is
                           read forward; 60 is the default
)usage";

void print_usage(const char* program_name) {
  std::cout << "Usage: " << program_name << " [OPTION]... IN_DIR OUT_DIR" << std::endl;
  std::cout << option_help << std::endl;
  std::cout << extended_option_help << std::endl;
}
