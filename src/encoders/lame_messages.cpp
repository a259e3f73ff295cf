#include "encoders/lame_messages.h"

#include "logging/logger.h"

namespace {

void lame_error(const char* format, va_list ap) {
  Logging::log_printf(Logging::ERROR, "LAME: ", format, ap);
}
void lame_message(const char* format, va_list ap) {
  Logging::log_printf(Logging::INFO, "LAME: ", format, ap);
}
void lame_debug(const char* format, va_list ap) {
  Logging::log_printf(Logging::DEBUG, "LAME: ", format, ap);
}

}  // namespace

void route_lame_messages(lame_global_flags* gfp) {
  lame_set_errorf(gfp, lame_error);
  lame_set_msgf(gfp, lame_message);
  lame_set_debugf(gfp, lame_debug);
}
