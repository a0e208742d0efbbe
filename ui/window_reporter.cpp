#include "ui/window_reporter.h"

#include <QThread>
#include <utility>

#include "ui/main_window.h"
#include "ui/qt_text.h"

namespace rw::ui {

WindowReporter::WindowReporter(MessagePresenter& presenter) : boxes(presenter) {}

void WindowReporter::SetWindow(QWidget* newWindow) {
  window = newWindow;
}

void WindowReporter::OnGuiThread(std::function<void()> action) {
  if (QThread::currentThread() == thread()) {
    action();
  } else {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
  }
}

void WindowReporter::ShowError(const std::string& text) {
  OnGuiThread([this, message = ToQString(text)] { boxes.Error(window, message); });
}

void WindowReporter::ShowMessage(const std::string& text) {
  OnGuiThread([this, message = ToQString(text)] { boxes.Message(window, message); });
}

void WindowReporter::FatalError(const std::string& text) {
  if (fatalSeen.exchange(true)) {
    return;
  }
  OnGuiThread([this, message = ToQString(text)] {
    boxes.Fatal(window, message);
    // Closed from the event loop, so the page operation that ran out of memory unwinds first.
    // Either button ends the program: the close asks no further question.
    if (auto* mainWindow = qobject_cast<MainWindow*>(window.data())) {
      QMetaObject::invokeMethod(mainWindow, &MainWindow::CloseWithoutAsking, Qt::QueuedConnection);
    } else if (window != nullptr) {
      QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    }
  });
}

void WindowReporter::UpkeepDue() {
  // Always queued: the store asks from inside an append, which an upkeep must not run under.
  QMetaObject::invokeMethod(
      this, [this] { emit UpkeepRequested(); }, Qt::QueuedConnection);
}

void WindowReporter::ShowClearedState() {
  OnGuiThread([this] { emit StoreCleared(); });
}

}  // namespace rw::ui
