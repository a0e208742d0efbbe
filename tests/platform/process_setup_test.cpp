#include "platform/process_setup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace rw::platform {
namespace {

// Checked in a child process: without the set-up, the first signal ends it.
TEST(ProcessSetup, UserSignalsDoNotEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        IgnoreUserSignals();
        ::raise(SIGUSR1);
        ::raise(SIGUSR2);
        ::_exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace rw::platform
