#pragma once

#include <cstdint>

// The one record of all options. Written by the option parser and debug mode
// during start-up only; read without locks by every thread afterwards.
struct Settings {
  const char* basepath;  // IN_DIR; absent (nullptr) until the first non-option argument
  int bitrate;
  int debug;
  const char* desttype;
  int gainmode;
  float gainref;
  const char* log_format;
  const char* log_maxlevel;
  int log_stderr;
  int log_syslog;
  const char* logfile;
  int quality;
  unsigned int statcachesize;
  int vbr;

  // Options beyond the classic set; their defaults keep the classic behaviour.
  unsigned int attrcachesize;  // transcoded files whose attributes are kept in memory; 0 off
  const char* cachedir;        // "" for none: then nothing is kept on disk
  uint64_t cachesize;          // bytes of stored outputs in cachedir
  int id3v2_version;           // 4, or 3 for older devices
  const char* covers;          // "embedded", "folder" or "none"
  int segments;                // 1: CBR audio made in independent segments; 0: one stream
  unsigned int threads;        // encoders running at once; 0 until start-up sets the cores
  unsigned int readahead;      // seconds of audio made ahead of a forward reader
  int gapless;                 // 1: a CBR stream starts with an information frame
  int cuesheets;               // 1: an image with a CUE sheet is listed as its tracks
};

extern Settings settings;

// The defaults, for tests that need to put the record back.
extern const Settings default_settings;
