#include "platform/signal_set.h"

#include <gtest/gtest.h>
#include <pthread.h>

namespace rw::platform {
namespace {

// Raised on this thread only, so a thread that does not block the signal cannot be hit.
void RaiseOnThisThread(int number) {
  ::pthread_kill(::pthread_self(), number);
}

TEST(SignalSet, ABlockedSignalWaitsUntilTaken) {
  const SignalSet set{Signal::kUser1, Signal::kHangUp};
  set.Block();
  RaiseOnThisThread(SIGUSR1);
  SignalSet::WaitResult waited = set.Wait(std::chrono::seconds(5));
  EXPECT_EQ(waited.outcome, SignalSet::Outcome::kSignal);
  EXPECT_EQ(waited.signal, Signal::kUser1);

  RaiseOnThisThread(SIGHUP);
  waited = set.Wait(std::chrono::seconds(5));
  EXPECT_EQ(waited.outcome, SignalSet::Outcome::kSignal);
  EXPECT_EQ(waited.signal, Signal::kHangUp);

  // Taken once: the next wait times out.
  EXPECT_EQ(set.Wait(std::chrono::milliseconds(20)).outcome, SignalSet::Outcome::kTimedOut);
}

// nohup starts the program with SIGHUP ignored; closing the terminal must not stop it then.
TEST(SignalSet, ASignalIgnoredAtStartStaysIgnored) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
  sigset_t hangUp;
  sigemptyset(&hangUp);
  sigaddset(&hangUp, SIGHUP);
  ::pthread_sigmask(SIG_UNBLOCK, &hangUp, nullptr);

  SignalSet set{Signal::kUser1, Signal::kHangUp};
  set.LeaveOutIfIgnored(Signal::kHangUp);
  set.Block();
  RaiseOnThisThread(SIGHUP);
  EXPECT_EQ(set.Wait(std::chrono::milliseconds(20)).outcome, SignalSet::Outcome::kTimedOut);
  EXPECT_TRUE(IsIgnored(Signal::kHangUp));
  // The rest of the set is still taken.
  RaiseOnThisThread(SIGUSR1);
  const SignalSet::WaitResult waited = set.Wait(std::chrono::seconds(5));
  EXPECT_EQ(waited.outcome, SignalSet::Outcome::kSignal);
  EXPECT_EQ(waited.signal, Signal::kUser1);
  ::sigaction(SIGHUP, &before, nullptr);
}

// A shell starts a background job with SIGINT ignored; kill -INT must still stop it.
TEST(SignalSet, OnlyTheNamedSignalIsLeftOut) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGINT, &ignore, &before), 0);
  SignalSet set{Signal::kInterrupt, Signal::kHangUp};
  set.LeaveOutIfIgnored(Signal::kHangUp);
  set.Block();
  RaiseOnThisThread(SIGINT);
  const SignalSet::WaitResult waited = set.Wait(std::chrono::seconds(5));
  EXPECT_EQ(waited.outcome, SignalSet::Outcome::kSignal);
  EXPECT_EQ(waited.signal, Signal::kInterrupt);
  ::sigaction(SIGINT, &before, nullptr);
}

}  // namespace
}  // namespace rw::platform
