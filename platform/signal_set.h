// Signals the program takes on one thread by waiting for them, instead of through handlers that
// interrupt whatever thread happens to run. Block the set before any thread starts; then only the
// thread that waits receives them. Any thread may raise one.
#pragma once

#include <signal.h>

#include <chrono>
#include <initializer_list>

namespace rw::platform {

enum class Signal { kInterrupt, kTerminate, kHangUp, kUser1, kUser2 };

class SignalSet {
 public:
  SignalSet(std::initializer_list<Signal> signals);

  // Leaves `signal` out of the set when its action is to be ignored, as nohup leaves SIGHUP: a
  // blocked signal is kept pending even when ignored, so waiting would take it. Call before
  // Block.
  void LeaveOutIfIgnored(Signal signal);

  // Blocks the signals on the calling thread; threads it starts afterwards inherit the mask.
  // (Changing the mask fails only for an invalid request, which this never makes.)
  void Block() const;

  enum class Outcome { kSignal, kTimedOut, kFailed };
  struct WaitResult {
    Outcome outcome = Outcome::kFailed;
    Signal signal = Signal::kInterrupt;  // with kSignal
    int errorNumber = 0;                 // with kFailed
  };
  // Waits up to `timeout` for one of the (blocked) signals. A wait interrupted by some other
  // signal's handler starts again.
  [[nodiscard]] WaitResult Wait(std::chrono::milliseconds timeout) const;

 private:
  sigset_t set;
};

// Whether `signal`'s action is to be ignored (as it is for SIGHUP under nohup).
bool IsIgnored(Signal signal);

// Sends `signal` to this process, as if it came from outside.
void RaiseInProcess(Signal signal);

}  // namespace rw::platform
