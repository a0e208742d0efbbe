#include "platform/stop_signal_pipe.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

namespace rw::platform {
namespace {

// nohup starts the program with SIGHUP ignored: it stays ignored, and the other stop signals
// are still taken. First in this file, as the handlers are installed once per process.
TEST(StopSignalPipe, ASignalIgnoredAtInstallStaysIgnored) {
  if (StopSignalPipe::ReadFd() >= 0) {
    GTEST_SKIP() << "installed already";
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
  // A shell starts a background job with SIGINT ignored: that one is still taken.
  struct sigaction interruptBefore {};
  ASSERT_EQ(::sigaction(SIGINT, &ignore, &interruptBefore), 0);
  sigset_t hangUp;
  sigemptyset(&hangUp);
  sigaddset(&hangUp, SIGHUP);
  ::pthread_sigmask(SIG_UNBLOCK, &hangUp, nullptr);

  ASSERT_TRUE(StopSignalPipe::Install());
  struct sigaction now {};
  ASSERT_EQ(::sigaction(SIGHUP, nullptr, &now), 0);
  ASSERT_EQ(now.sa_handler, SIG_IGN);
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_FALSE(StopSignalPipe::Take());
  for (const int taken : {SIGTERM, SIGINT}) {
    ASSERT_EQ(::sigaction(taken, nullptr, &now), 0);
    EXPECT_NE(now.sa_handler, SIG_IGN) << taken;
    EXPECT_NE(now.sa_handler, SIG_DFL) << taken;
  }
  ::sigaction(SIGHUP, &before, nullptr);
}

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
