// Opens the shipped HTML help page in the desktop's default browser. GUI thread only.
#pragma once

#include "ui/help_launcher.h"

namespace rw::ui {

class DesktopHelpLauncher : public HelpLauncher {
 public:
  void OpenHelp() override;
};

}  // namespace rw::ui
