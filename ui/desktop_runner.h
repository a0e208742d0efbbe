// Runs the program with its window: application object, settings key, main window (whose
// Settings page starts listening), the event loop, then the orderly shutdown. Main thread only.
#pragma once

#include <functional>

namespace rw::ui {

class DesktopRunner {
 public:
  using Environment = std::function<const char*(const char*)>;

  // Whether a window can be opened: DISPLAY or WAYLAND_DISPLAY is set, or a Qt platform was
  // chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen).
  static bool DisplayAvailable(const Environment& environment);

  // Blocks until the window is closed. Returns the process exit code: 0 after an orderly end,
  // 1 when exhausted memory ended the run.
  static int Run(int& argc, char** argv);
};

}  // namespace rw::ui
