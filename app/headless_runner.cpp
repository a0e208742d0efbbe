#include "app/headless_runner.h"

#include <chrono>
#include <cstdio>

#include "app/console_reporter.h"
#include "app/proxy_app.h"
#include "platform/process_setup.h"
#include "platform/signal_set.h"

namespace rw::app {
namespace {

constexpr std::chrono::milliseconds kUpkeepPeriod{4000};

}  // namespace

HeadlessRunner::HeadlessRunner(const CommandLine& options) : options(options) {}

int HeadlessRunner::Run() {
  // Block the stop signals before any thread starts, so every thread inherits the mask and the
  // main thread alone receives them by waiting for them, between upkeep ticks.
  const platform::SignalSet stopSignals{platform::Signal::kInterrupt, platform::Signal::kTerminate};
  stopSignals.Block();
  platform::IgnoreSigpipe();
  platform::RaiseOpenFileLimit();

  ConsoleReporter reporter;
  ProxyApp app(
      SettingsStore(platform::SettingsBacking(platform::SettingsBacking::DefaultKeyDirectory())),
      reporter, reporter);
  app.LoadSettings();

  // Start-up applies and saves the stored settings, exactly as the window does; options then
  // override them for this run without being saved.
  bool listening = false;
  if (options.HasOverrides()) {
    SettingsForm stored = app.Form();
    app.ApplySettings(stored, {.save = true, .listen = false});
    SettingsForm& form = app.Form();
    options.ApplyOverrides(form);
    listening = app.ApplySettings(form, {.save = false, .listen = true});
  } else {
    listening = app.ApplySettings(app.Form(), {.save = true, .listen = true});
  }
  if (!listening) {
    app.Shutdown(std::chrono::seconds(1));
    return 1;
  }

  const SettingsForm& form = app.Form();
  std::printf("Relaywatch %s listening on 127.0.0.1:%u\n", RELAYWATCH_VERSION,
              static_cast<unsigned>(app.Listener().BoundPort()));
  if (!form.proxyLabel.empty()) {
    std::printf("Forwarding through the upstream proxy at %s\n", form.proxyLabel.c_str());
  }
  const std::string logging =
      app.Store().AutoLog()
          ? "auto-logging to " + app.Store().TextLogName() + " and " + app.Store().CsvLogName()
          : std::string("auto-logging off");
  std::printf("Keeping up to %d MB of captured data; %s\n", app.Store().MaxMB(), logging.c_str());
  std::printf("Press Ctrl+C to stop.\n");
  std::fflush(stdout);

  // Upkeep between stop signals; a stop signal, or a wait that fails, ends the run.
  while (stopSignals.Wait(kUpkeepPeriod).outcome == platform::SignalSet::Outcome::kTimedOut) {
    app.Upkeep();
  }

  std::printf("Stopping...\n");
  std::fflush(stdout);
  const bool autoLog = app.Store().AutoLog();
  const std::string textLog = app.Store().TextLogName();
  const std::string csvLog = app.Store().CsvLogName();
  const bool clean = app.Shutdown(std::chrono::seconds(5));
  if (autoLog) {
    std::printf("Log files: %s (full text), %s (stats)\n", textLog.c_str(), csvLog.c_str());
  }
  const int status = reporter.FatalSeen() ? 1 : 0;
  if (!clean) {
    std::fprintf(stderr, "relaywatch: some connections did not end in time\n");
    // Those connections still use the store, the engine and the reporter on this stack: end the
    // process here (the logs are closed) rather than let any of them go.
    platform::EndProcessNow(status);
  }
  return status;
}

}  // namespace rw::app
