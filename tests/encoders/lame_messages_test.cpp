#include "encoders/lame_messages.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/log_capture.h"

namespace {

TEST(LameMessages, LamesOwnOutputArrivesPrefixedAtItsLevel) {
  std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> gfp(lame_init(), lame_close);
  ASSERT_NE(gfp, nullptr);
  route_lame_messages(gfp.get());
  lame_set_in_samplerate(gfp.get(), 44100);
  ASSERT_EQ(lame_init_params(gfp.get()), 0);

  LogCapture log;
  lame_print_config(gfp.get());  // LAME writes its configuration through the message callback
  EXPECT_TRUE(log.contains("INFO: LAME: LAME ")) << log.text();
  EXPECT_FALSE(log.contains("ERROR:")) << log.text();
}

}  // namespace
