#pragma once

#include <fuse.h>

// Keys of the options that handle_option acts on.
enum OptionKey : int { KEY_HELP = 0, KEY_VERSION = 1, KEY_DEBUG = 2 };

// Templates for fuse_opt_parse, storing into the global settings.
extern const fuse_opt option_table[];

// fuse_opt_parse's callback: takes IN_DIR as basepath, ends the process for
// help and version, and passes everything else on to the FUSE library.
int handle_option(void* data, const char* arg, int key, fuse_args* outargs);
