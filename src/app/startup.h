#pragma once

// Parses the command line into the settings, checks them, sets up logging and
// runs the FUSE main loop. Returns the process exit status.
int run_startup(int argc, char* argv[]);
