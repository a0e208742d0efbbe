// The start-up splash: a small frameless window centred on the screen with the program's picture
// and version. No behaviour; the main window closes it. GUI thread only; owned by the main window.
#pragma once

#include <QFrame>

namespace rw::ui {

class SplashWindow : public QFrame {
  Q_OBJECT

 public:
  explicit SplashWindow(QWidget* owner);

  // Shows the window centred on the owner's screen and paints it at once.
  void ShowCentred();
};

}  // namespace rw::ui
