#pragma once

// Sends FFmpeg's own messages into olvex's log (errors at ERROR, warnings and
// information at DEBUG, FFmpeg's debug chatter nowhere) instead of stderr.
// Installs the callback once per process; later calls do nothing.
void route_ffmpeg_log();

// The level an FFmpeg message of av_level is logged at, 0 for none.
int ffmpeg_log_level(int av_level);
