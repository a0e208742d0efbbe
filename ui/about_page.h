// The About tab: the program's picture in a sunken frame and its version. No behaviour.
// GUI thread only; owned by the main window.
#pragma once

#include "ui/page.h"

namespace rw::ui {

class AboutPage : public Page {
  Q_OBJECT

 public:
  explicit AboutPage(QWidget* parent = nullptr);
};

}  // namespace rw::ui
