// Runs the proxy without a window: loads and applies the settings as the window's start-up does,
// prints a line per completed exchange, keeps the store within its limit every 4000 ms, writes
// the logs now on SIGUSR1, and shuts down in order on SIGINT, SIGTERM or SIGHUP, saying where the
// captured exchanges went. Made and run on the main thread, once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/proxy_app.h"
#include "headless/console_reporter.h"
#include "headless/exchange_printer.h"
#include "platform/signal_set.h"

namespace rw::headless {

class HeadlessRunner {
 public:
  // Blocks the stop signals on the calling thread before the application starts any thread.
  explicit HeadlessRunner(const app::CommandLine& options);

  // Blocks until a stop signal arrives. Returns the process exit code: 0 after an orderly stop
  // with everything due written; 1 when the proxy could not listen, a log pass at stop failed or
  // the HAR file could not be written; 2 when the log directory or the HAR file cannot be used, or
  // the upstream proxy is the listening address itself, or HTTPS inspection cannot start (its key,
  // its folder, the upstream CA file or a host pattern).
  int Run();

 private:
  // Why the run ends before listening: the exit status and the line for stderr (none when the
  // reporter has already said it).
  struct StartFailure {
    int status = 0;
    std::string message;
  };

  std::optional<StartFailure> PrepareSettings();
  std::optional<StartFailure> CheckOutputs();
  std::string PrepareInspection();
  std::optional<StartFailure> Listen();
  int FailStart(const StartFailure& failure);
  void PrintBanner();
  void OpenBrowser();
  void WaitForStop();
  void Upkeep(app::ProxyApp::UpkeepKind kind);
  void LogNow();
  void ReportHar();
  void PrintHarNotice();
  int Stop();

  const app::CommandLine& options;
  platform::SignalSet signals;
  ConsoleReporter reporter;
  // Connection threads call the printer until the application has stopped them: it outlives them.
  ExchangePrinter printer;
  std::filesystem::path settingsDirectory;
  app::ProxyApp proxyApp;
  int32_t askedMB = 0;    // the memory limit asked for, before it is raised to the floor
  bool autoLog = false;   // as asked for at start; a failed pass turns the store's off
  bool lastHarOk = true;  // the HAR file's last write, so that a failure is said once
};

}  // namespace rw::headless
