// Reaches the user on the terminal when there is no window: listener failures, capture errors
// and log messages go to stderr. Called from any thread; writes are single fputs calls.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "capture/capture_notifier.h"
#include "proxy/listener_error_sink.h"

namespace rw::headless {

class ConsoleReporter : public proxy::ListenerErrorSink, public capture::CaptureNotifier {
 public:
  explicit ConsoleReporter(std::FILE* out = stderr);

  void ShowError(const std::string& text) override;
  void FatalError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowClearedState() override {}
  // Raises SIGUSR2, which the runner waits for between ticks (it blocks it before threads start).
  void UpkeepDue() override;
  void ListenFailed(int port, int errorNumber) override;

  // The last listen failure's port and errno (main thread: the listener starts there).
  struct ListenFailure {
    bool seen = false;
    int port = 0;
    int errorNumber = 0;
  };
  ListenFailure LastListenFailure() const { return listenFailure; }

  // Set once a fatal error asked the program to end; the runner then shuts down.
  bool FatalSeen() const { return fatalSeen.load(); }

 private:
  void Print(const std::string& text);

  std::FILE* out;
  std::atomic<bool> fatalSeen{false};  // read by the runner's loop without a lock
  ListenFailure listenFailure;         // main thread only
};

}  // namespace rw::headless
