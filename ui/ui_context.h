// What the window and its pages work with: the application object, the message boxes, the help
// launcher and the clock. Owned by the desktop runner (or a test); outlives the window.
#pragma once

#include <cstdint>
#include <functional>

#include "app/proxy_app.h"
#include "platform/ticks.h"
#include "ui/help_launcher.h"
#include "ui/message_presenter.h"

namespace rw::ui {

struct UiContext {
  app::ProxyApp& app;
  MessagePresenter& boxes;
  HelpLauncher& help;
  // Milliseconds, 32 bits, wrapping; tests drive the splash and help timing with their own.
  std::function<uint32_t()> now = &platform::NowTicks;
};

}  // namespace rw::ui
