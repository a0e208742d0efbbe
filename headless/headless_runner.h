// Runs the proxy without a window: loads and applies the settings as the window's start-up does,
// prints a line per completed exchange, keeps the store within its limit every 4000 ms, writes
// the logs now on SIGUSR1, and shuts down in order on SIGINT, SIGTERM or SIGHUP, saying where the
// captured exchanges went.
#pragma once

#include "app/command_line.h"

namespace rw::headless {

class HeadlessRunner {
 public:
  explicit HeadlessRunner(const app::CommandLine& options);

  // Blocks until a stop signal arrives. Returns the process exit code: 0 after an orderly stop
  // with everything due written; 1 when the proxy could not listen, a log pass at stop failed or
  // the HAR file could not be written; 2 when the log directory or the HAR file cannot be used, or
  // the upstream proxy is the listening address itself, or HTTPS inspection cannot start (its key,
  // its folder, the upstream CA file or a host pattern).
  int Run();

 private:
  const app::CommandLine& options;
};

}  // namespace rw::headless
