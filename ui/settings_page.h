// The Settings tab: the listening port, upstream proxy, log directory, retention limit and
// auto-logging, four live counters, and Apply, Defaults, Clear Data, Exit, Help and Log and Clear.
// A view over the application's settings form. GUI thread only; owned by the main window.
#pragma once

#include "ui/page.h"
#include "ui/ui_context.h"

namespace rw::ui {

class SettingsPage : public Page {
  Q_OBJECT

 public:
  // Loads and applies the settings and starts the listener.
  SettingsPage(UiContext& context, QWidget* parent);

 signals:
  // Exit was clicked: the window ends the run.
  void exitRequested();

 private:
  UiContext& context;
};

}  // namespace rw::ui
