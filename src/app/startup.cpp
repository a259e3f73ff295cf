#include "app/startup.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "app/operations.h"
#include "app/options.h"
#include "app/options_summary.h"
#include "app/settings.h"
#include "app/usage.h"
#include "app/version.h"
#include "cache/disk_cache.h"
#include "encoders/encoder.h"
#include "logging/logger.h"
#include "transcode/read_tags_with_covers.h"

namespace {

constexpr int kOwnMappingBytes = 256 * 1024;
constexpr unsigned int kMostThreads = 256;

// --threads=0 (the default) means one encoder per online core.
void resolve_thread_count() {
  if (settings.threads != 0) return;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  settings.threads = cores > 0 ? static_cast<unsigned int>(cores) : 1;
}

// Start-up reports go to the unbuffered error stream, one flushed line each.
void report(const std::string& message) {
  std::cerr << message << std::endl;
}

bool start_logging() {
  const int max_level = Logging::parse_log_level(settings.log_maxlevel);
  return Logging::init_logging(settings.logfile, max_level, settings.log_format,
                               settings.log_stderr != 0, settings.log_syslog != 0);
}

// The checks that end with the usage text: the failure's report (its lines
// joined), or empty when the settings are fit to mount.
std::string check_settings() {
  if (settings.basepath == nullptr) return "No valid flacdir specified.\n";
  if (settings.basepath[0] != '/') return "flacdir must be an absolute path.\n";
  struct stat st;
  if (stat(settings.basepath, &st) != 0 || !S_ISDIR(st.st_mode)) {
    return std::string("flacdir is not a valid directory: ") + settings.basepath + "\n" +
           "Hint: Did you specify bitrate using the old syntax instead of the new -b?\n";
  }
  // Compared unsigned so that negative values are caught by the same test.
  if (static_cast<uint32_t>(settings.quality) >= 10) {
    return "Invalid encoding quality value: " + std::to_string(settings.quality) + "\n";
  }
  if (make_encoder(settings.desttype, nullptr) == nullptr) {
    return std::string("No encoder available for desttype: ") + settings.desttype + "\n";
  }
  if (settings.id3v2_version != 3 && settings.id3v2_version != 4) {
    return "Invalid ID3v2 version: " + std::to_string(settings.id3v2_version) + "\n";
  }
  if (!parse_cover_mode(settings.covers)) {
    return std::string("Invalid covers mode: ") + settings.covers + "\n";
  }
  if (settings.threads > kMostThreads) {
    return "Invalid thread count: " + std::to_string(settings.threads) + "\n";
  }
  return {};
}

int fail_with_usage(const char* program, const std::string& message) {
  report(message);
  print_usage(program);
  return 1;
}

int mount(fuse_args& args, const char* program) {
  if (fuse_opt_parse(&args, &settings, option_table, handle_option) != 0) {
    return fail_with_usage(program, "Error parsing options.\n");
  }
  if (settings.debug != 0) {
    settings.log_stderr = 1;
    settings.log_maxlevel = "DEBUG";
  }
  if (!start_logging()) {
    report("Failed to initialize logging module.");
    report("Maybe log file couldn't be opened for writing?");
    return 1;
  }
  const std::string failure = check_settings();
  if (!failure.empty()) return fail_with_usage(program, failure);
  resolve_thread_count();
  std::string cache_failure;
  if (!check_cache_directory(cache_failure)) {
    report(cache_failure);
    return 1;
  }
  {
    Logging::Logger log(Logging::DEBUG);
    print_version(log);
  }
  {
    Logging::Logger log(Logging::DEBUG);
    write_options_summary(log);
  }
  // The kernel enforces the owners and modes that getattr mirrors; without this, every
  // user allowed into the mount would read whatever olvex itself can.
  if (fuse_opt_add_arg(&args, "-odefault_permissions") != 0) {
    report("Error parsing options.");
    return 1;
  }
  // Output buffers are megabytes each: with a fixed threshold each is mapped on its own and
  // goes back to the system when freed. glibc would otherwise raise the threshold past the
  // first one freed and keep later ones in a heap that does not shrink.
  mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
  return fuse_main_real(args.argc, args.argv, &operations_table, sizeof(operations_table), nullptr);
}

}  // namespace

int run_startup(int argc, char* argv[]) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  const int status = mount(args, argv[0]);
  fuse_opt_free_args(&args);
  return status;
}
