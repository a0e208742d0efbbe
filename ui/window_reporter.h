// Reaches the user through the main window's message boxes: listener failures, capture errors and
// log messages. Called from any thread; a box asked for on another thread (a connection thread
// out of memory) is queued to the GUI thread, so no box is ever shown from a connection thread.
// Owned by the desktop runner; outlives the application object that calls it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>

#include "capture/capture_notifier.h"
#include "proxy/listener_error_sink.h"
#include "ui/message_presenter.h"

namespace rw::ui {

class WindowReporter : public QObject,
                       public proxy::ListenerErrorSink,
                       public capture::CaptureNotifier {
  Q_OBJECT

 public:
  explicit WindowReporter(MessagePresenter& boxes);

  // The window that owns the boxes and that a fatal error closes; nullptr once it is gone.
  // GUI thread only.
  void SetWindow(QWidget* window);

  void ShowError(const std::string& text) override;
  void FatalError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowClearedState() override;
  void UpkeepDue() override;

  // Whether a fatal error has ended (or is ending) the run. Any thread.
  bool FatalSeen() const { return fatalSeen.load(); }

 signals:
  // The store was cleared; the pages show the cleared state. Emitted on the GUI thread.
  void StoreCleared();
  // The store asked for an upkeep before the next timer tick. Emitted on the GUI thread.
  void UpkeepRequested();

 private:
  // Runs `action` now when called on the GUI thread, else queues it there.
  void OnGuiThread(std::function<void()> action);

  MessagePresenter& boxes;
  QPointer<QWidget> window;  // GUI thread only
  // Set by the first fatal error; later ones (other connection threads out of memory at the same
  // moment) are dropped, since the first already ends the program. Read on any thread.
  std::atomic<bool> fatalSeen{false};
};

}  // namespace rw::ui
