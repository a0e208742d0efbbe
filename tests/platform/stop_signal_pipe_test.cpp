#include "platform/stop_signal_pipe.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

namespace rw::platform {
namespace {

TEST(StopSignalPipe, AStopSignalBecomesReadableOnThePipe) {
  ASSERT_TRUE(StopSignalPipe::Install());
  ASSERT_GE(StopSignalPipe::ReadFd(), 0);
  EXPECT_FALSE(StopSignalPipe::Take());
  // raise() runs the handler on this thread before it returns.
  ASSERT_EQ(::raise(SIGTERM), 0);
  pollfd readable{StopSignalPipe::ReadFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&readable, 1, 0), 1);
  EXPECT_TRUE(StopSignalPipe::Take());
  EXPECT_FALSE(StopSignalPipe::Take());
  // A second signal would end the process at once; that is left to the end-to-end test.
}

}  // namespace
}  // namespace rw::platform
