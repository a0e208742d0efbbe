// Turns the stop signals (SIGINT, SIGTERM, SIGHUP) into a byte on a pipe, so an event loop can
// end the run in order from its own thread instead of inside a handler. A second stop signal ends
// the process at once, so a shutdown that hangs can still be interrupted. One per process; the
// handlers stay installed for its life. Install on the main thread before other threads start. A
// SIGHUP that is ignored when Install runs (nohup) is left ignored.
#pragma once

namespace rw::platform {

class StopSignalPipe {
 public:
  // Creates the pipe and installs the handlers. False (nothing installed) when the pipe cannot be
  // made; the signals then keep their default action.
  static bool Install();
  // The end to watch for reading; -1 before Install.
  static int ReadFd();
  // Empties the pipe; true when a stop signal had arrived.
  static bool Take();
};

}  // namespace rw::platform
