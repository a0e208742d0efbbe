// Shows the program's modal message boxes. The window reaches the user only through this, so
// tests record the boxes instead of blocking on them. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace rw::ui {

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;

  // The application box: title "Relaywatch", an OK button, a warning icon.
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // A listener failure: caption "Crumbguard", an OK button, an error icon.
  virtual void Error(QWidget* parent, const QString& text) = 0;
  // Exhausted memory ("Error in ..."): title "Relaywatch", OK and Cancel, an error icon. Either
  // button ends the program; the caller closes the main window afterwards.
  virtual void Fatal(QWidget* parent, const QString& text) = 0;
};

}  // namespace rw::ui
