// What a system call gave: its value with errno captured at the call, and the one loop that
// retries a call interrupted by a signal. Header only; any thread.
#pragma once

#include <sys/types.h>

#include <cerrno>

namespace rw::platform {

struct SysCallResult {
  ssize_t value = -1;   // the call's result; -1 on failure
  int errorNumber = 0;  // errno at the failing call, 0 on success
  bool Ok() const { return value >= 0; }

  // Wraps a system call's return value, capturing errno right after the call when it failed.
  static SysCallResult FromReturn(ssize_t returned) {
    return SysCallResult{returned, returned < 0 ? errno : 0};
  }
};

// Runs `call` again for as long as it fails with EINTR; returns its last result (errno is that
// call's). Not for close or connect, which must not be repeated after an interruption.
template <typename Call>
auto RetryWhileInterrupted(Call call) {
  for (;;) {
    auto returned = call();
    if (!(returned < 0 && errno == EINTR)) {
      return returned;
    }
  }
}

}  // namespace rw::platform
