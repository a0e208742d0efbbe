// The program's picture: a browser and a server joined by two relay arrows under a watching lens.
// Drawn with shapes only, so it needs no fonts and no running application; used by the About
// page, the splash window, the window icon and the installed desktop icon.
#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

namespace rw::ui {

class ProgramPicture {
 public:
  // Draws the picture into `bounds` (a square fits it best).
  static void Paint(QPainter& painter, const QRectF& bounds);
  // The picture as a square image of `size` pixels with a transparent background.
  static QImage Render(int size);
  // The window icon, in the sizes desktops ask for. Needs a running QGuiApplication.
  static QIcon Icon();
};

}  // namespace rw::ui
