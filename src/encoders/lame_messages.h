#pragma once

#include <lame/lame.h>

// Routes LAME's error, message and debug output into the log as ERROR, INFO and
// DEBUG lines prefixed "LAME: ".
void route_lame_messages(lame_global_flags* gfp);
