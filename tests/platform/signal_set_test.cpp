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

}  // namespace
}  // namespace rw::platform
