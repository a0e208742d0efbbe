// Runs the program with its window: application object, settings key, main window (whose
// Settings page starts listening), the event loop, then the orderly shutdown. Main thread only.
#pragma once

#include <functional>

#include "app/proxy_app.h"

namespace rw::ui {

class DesktopRunner {
 public:
  using Environment = std::function<const char*(const char*)>;

  // Whether a window can be opened: DISPLAY or WAYLAND_DISPLAY is set, or a Qt platform was
  // chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen).
  static bool DisplayAvailable(const Environment& environment);

  // Blocks until the window is closed. Returns the process exit code: 0 after an orderly end,
  // 1 when exhausted memory ended the run or captured data could not be written to the logs.
  static int Run(int& argc, char** argv);

  // The exit code from how the run ended: the window's close pass and the shutdown's pass (which
  // writes what arrived after the window's, and runs only when that one succeeded).
  static int ExitStatus(bool fatalSeen, bool windowLogsFailed,
                        const app::ProxyApp::FinalLogPass& shutdownPass);
};

}  // namespace rw::ui
