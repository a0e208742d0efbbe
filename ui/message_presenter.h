// Shows the program's modal message boxes. The window reaches the user only through this, so
// tests record the boxes instead of blocking on them. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace rw::ui {

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;

  // The application box for a failure or a warning: title "Relaywatch", an OK button, a warning
  // icon.
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // The application box for a result the user asked for (a search count, files written): title
  // "Relaywatch", an OK button, an information icon.
  virtual void Information(QWidget* parent, const QString& text) = 0;
  // The window is closing but its data could not be written: title "Relaywatch", "Exit Anyway"
  // and Cancel, a warning icon, Cancel the default. True to exit anyway.
  virtual bool ExitAnyway(QWidget* parent, const QString& text) = 0;
  // A listener failure: caption "Crumbguard", an OK button, an error icon.
  virtual void Error(QWidget* parent, const QString& text) = 0;
  // Exhausted memory ("Error in ..."): title "Relaywatch", OK and Cancel, an error icon. Either
  // button ends the program; the caller closes the main window afterwards.
  virtual void Fatal(QWidget* parent, const QString& text) = 0;
};

}  // namespace rw::ui
