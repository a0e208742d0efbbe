// What a system call gave, in one shape for every call: its value, and errno captured right
// after the call (0 when it succeeded). Also the one loop that retries a call interrupted by a
// signal. Header only; any thread.
#pragma once

#include <sys/types.h>

#include <cerrno>

namespace rw::platform {

template <typename Value>
struct [[nodiscard]] CallResult {
  Value value{};
  int errorNumber = 0;  // errno at the failing call; 0 on success
  bool Ok() const { return errorNumber == 0; }
};

// A count, a descriptor or an option value; -1 on failure.
struct [[nodiscard]] SysCallResult : CallResult<ssize_t> {
  // Wraps a system call's return value, capturing errno right after the call when it failed.
  static SysCallResult FromReturn(ssize_t returned) {
    if (returned >= 0) {
      return Succeeded(returned);
    }
    return Failed(errno);
  }
  static SysCallResult Succeeded(ssize_t value) { return SysCallResult{{value, 0}}; }
  // A failure always carries an error number, so that Ok() cannot mistake it for success.
  static SysCallResult Failed(int errorNumber) {
    return SysCallResult{{-1, errorNumber != 0 ? errorNumber : EIO}};
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
