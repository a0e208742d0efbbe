// Opens the help page. The window and the Settings page call this; tests record the calls.
// GUI thread only.
#pragma once

namespace rw::ui {

class HelpLauncher {
 public:
  virtual ~HelpLauncher() = default;
  // Opens the help page; a failure to open is not reported.
  virtual void OpenHelp() = 0;
};

}  // namespace rw::ui
