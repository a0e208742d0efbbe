#include "platform/stop_signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace rw::platform {
namespace {

// Written once by Install before any handler can run, then only read (by the handler).
int readEnd = -1;
int writeEnd = -1;
// Lock-free, so the handler may count with it.
std::atomic<int> received{0};

void OnStopSignal(int number) {
  const int savedErrno = errno;
  if (received.fetch_add(1) > 0) {
    ::_exit(128 + number);
  }
  const char byte = static_cast<char>(number);
  // A full pipe already says that a signal came.
  [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

bool StopSignalPipe::Install() {
  if (readEnd >= 0) {
    return true;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return false;
  }
  readEnd = ends[0];
  writeEnd = ends[1];
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    // A SIGHUP the program was started with ignored (nohup) stays ignored.
    struct sigaction inherited {};
    if (number == SIGHUP && ::sigaction(number, nullptr, &inherited) == 0 &&
        inherited.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(number, &action, nullptr);
  }
  return true;
}

int StopSignalPipe::ReadFd() {
  return readEnd;
}

bool StopSignalPipe::Take() {
  bool any = false;
  char buffer[16];
  while (readEnd >= 0 && ::read(readEnd, buffer, sizeof buffer) > 0) {
    any = true;
  }
  return any;
}

}  // namespace rw::platform
