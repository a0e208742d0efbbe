#include "platform/signal_set.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/sys_call_result.h"

namespace rw::platform {
namespace {

int Number(Signal signal) {
  switch (signal) {
    case Signal::kInterrupt:
      return SIGINT;
    case Signal::kTerminate:
      return SIGTERM;
    case Signal::kHangUp:
      return SIGHUP;
    case Signal::kUser1:
      return SIGUSR1;
    case Signal::kUser2:
      return SIGUSR2;
  }
  return SIGTERM;
}

}  // namespace

SignalSet::SignalSet(std::initializer_list<Signal> signals) {
  sigemptyset(&set);
  for (Signal signal : signals) {
    sigaddset(&set, Number(signal));
  }
}

void SignalSet::LeaveOutIfIgnored(Signal signal) {
  if (IsIgnored(signal)) {
    sigdelset(&set, Number(signal));
  }
}

void SignalSet::Block() const {
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalSet::WaitResult SignalSet::Wait(std::chrono::milliseconds timeout) const {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec period{static_cast<time_t>(seconds.count()),
                        static_cast<long>((timeout - seconds).count() * 1000000L)};
  // A wait interrupted by some other signal's handler starts again.
  const int received =
      RetryWhileInterrupted([&] { return ::sigtimedwait(&set, nullptr, &period); });
  if (received < 0) {
    return errno == EAGAIN ? WaitResult{Outcome::kTimedOut, Signal::kInterrupt, 0}
                           : WaitResult{Outcome::kFailed, Signal::kInterrupt, errno};
  }
  for (Signal signal :
       {Signal::kInterrupt, Signal::kTerminate, Signal::kHangUp, Signal::kUser1, Signal::kUser2}) {
    if (Number(signal) == received) {
      return WaitResult{Outcome::kSignal, signal, 0};
    }
  }
  // Only signals of the set are taken, and each was made from a Signal.
  return WaitResult{Outcome::kFailed, Signal::kInterrupt, 0};
}

bool IsIgnored(Signal signal) {
  struct sigaction action {};
  return ::sigaction(Number(signal), nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

void RaiseInProcess(Signal signal) {
  ::kill(::getpid(), Number(signal));
}

}  // namespace rw::platform
