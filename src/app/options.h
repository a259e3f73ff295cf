#pragma once

#include <fuse.h>

#include <cstdint>

// Keys of the options that handle_option acts on.
enum OptionKey : int {
  KEY_HELP = 0,
  KEY_VERSION = 1,
  KEY_DEBUG = 2,
  KEY_CACHESIZE = 3,
  KEY_SEGMENTS = 4,
  KEY_GAPLESS = 5,
  KEY_CUESHEETS = 6,
};

// Templates for fuse_opt_parse, storing into the global settings.
extern const fuse_opt option_table[];

// fuse_opt_parse's callback: takes IN_DIR as basepath, ends the process for
// help and version, and passes everything else on to the FUSE library.
int handle_option(void* data, const char* arg, int key, fuse_args* outargs);

// "1048576", "512K", "100M", "1G" (powers of 1024) to a byte count; false for anything else.
bool parse_byte_size(const char* text, uint64_t& bytes);

// "on" or "off" to 1 or 0; false for anything else.
bool parse_switch(const char* text, int& value);
