// Runs the proxy without a window: loads and applies the settings as the window's start-up does,
// keeps the store within its limit every 4000 ms, and shuts down in order on SIGINT or SIGTERM.
#pragma once

#include "app/command_line.h"

namespace rw::app {

class HeadlessRunner {
 public:
  explicit HeadlessRunner(const CommandLine& options);

  // Blocks until a stop signal arrives. Returns the process exit code: 0 after an orderly stop,
  // 1 when the proxy could not listen.
  int Run();

 private:
  const CommandLine& options;
};

}  // namespace rw::app
