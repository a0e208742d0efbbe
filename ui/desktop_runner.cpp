#include "ui/desktop_runner.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/inspection_choice.h"
#include "app/proxy_app.h"
#include "platform/process_setup.h"
#include "platform/settings_backing.h"
#include "platform/stop_signal_pipe.h"
#include "ui/desktop_help_launcher.h"
#include "ui/main_window.h"
#include "ui/message_box_presenter.h"
#include "ui/program_picture.h"
#include "ui/window_reporter.h"

namespace rw::ui {

bool DesktopRunner::DisplayAvailable(const Environment& environment) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = environment(name);
    if (value != nullptr && value[0] != '\0') {
      return true;
    }
  }
  return false;
}

int DesktopRunner::ExitStatus(bool fatalSeen, bool windowLogsFailed,
                              const app::ProxyApp::FinalLogPass& shutdownPass) {
  return fatalSeen || windowLogsFailed || !shutdownPass.written ? 1 : 0;
}

namespace {

void NameApplication() {
  QApplication::setApplicationName(QStringLiteral("Relaywatch"));
  QApplication::setApplicationVersion(QStringLiteral(RELAYWATCH_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("relaywatch"));
  QApplication::setWindowIcon(ProgramPicture::Icon());
  // The run ends when the main window closes, whatever other windows (a box) are still up.
  QApplication::setQuitOnLastWindowClosed(false);
}

// HTTPS inspection as the settings ask, ready before the window starts listening; a change
// to them takes effect at the next start. Returns why it could not start, or nothing.
std::string StartInspection(app::ProxyApp& app, const std::filesystem::path& settingsDirectory) {
  std::string inspectionProblem;
  const app::InspectionChoice inspection =
      app::ChooseInspection(app::CommandLine(), app.Settings(), settingsDirectory);
  if (inspection.on) {
    tls::InspectionSetup prepared = tls::PrepareInspection(inspection.request);
    inspectionProblem = prepared.error;
    const std::string contexts = app.SetInspection(std::move(prepared.settings));
    if (inspectionProblem.empty()) {
      inspectionProblem = contexts;
    }
  }
  return inspectionProblem;
}

// Shows the window and runs the event loop until it closes. Returns whether the window's final
// log pass failed.
bool RunWindow(QApplication& application, UiContext& context, WindowReporter& reporter,
               bool stopSignalsCaught, const std::string& inspectionProblem) {
  MainWindow window(context);
  reporter.SetWindow(&window);
  QObject::connect(&reporter, &WindowReporter::StoreCleared, &window,
                   &MainWindow::ShowClearedState);
  QObject::connect(&reporter, &WindowReporter::UpkeepRequested, &window, &MainWindow::EarlyUpkeep);
  QObject::connect(&window, &MainWindow::RunEnded, &application, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  // Ctrl+C, SIGTERM or SIGHUP (the session ending) close the window as the user would, so the
  // run ends in order with the logs written.
  std::unique_ptr<QSocketNotifier> stopSignals;
  if (stopSignalsCaught) {
    stopSignals = std::make_unique<QSocketNotifier>(platform::StopSignalPipe::ReadFd(),
                                                    QSocketNotifier::Read);
    QObject::connect(stopSignals.get(), &QSocketNotifier::activated, &window, [&window] {
      if (platform::StopSignalPipe::Take()) {
        window.CloseWithoutAsking();
      }
    });
  }
  window.show();
  if (!inspectionProblem.empty()) {
    context.boxes.Error(&window, QCoreApplication::translate("rw::ui::DesktopRunner",
                                                             "HTTPS inspection cannot start: %1")
                                     .arg(QString::fromStdString(inspectionProblem)));
  }
  QApplication::exec();
  reporter.SetWindow(nullptr);
  return window.FinalLogsFailed();
}

// Says what was left unsaved and shuts the application object down. Returns the exit code.
int FinishRun(app::ProxyApp& app, WindowReporter& reporter, bool windowLogsFailed) {
  if (windowLogsFailed) {
    std::fprintf(stderr, "relaywatch: Log File failed: the captured data was not saved\n");
  }
  const bool drained = app.Shutdown(std::chrono::seconds(5));
  const app::ProxyApp::FinalLogPass& lastPass = app.LastFinalLogPass();
  if (!lastPass.written) {
    std::fprintf(stderr, "relaywatch: Log File failed: %lld exchanges were not saved\n",
                 static_cast<long long>(lastPass.unsaved));
  }
  const int exitCode = DesktopRunner::ExitStatus(reporter.FatalSeen(), windowLogsFailed, lastPass);
  if (!drained) {
    std::fprintf(stderr, "relaywatch: some connections did not end in time\n");
    // Their threads still use the store, the engine and the reporter: end the process here (the
    // logs are closed) rather than let the application and its objects be torn down under them.
    platform::EndProcessNow(exitCode);
  }
  return exitCode;
}

}  // namespace

int DesktopRunner::Run(int& argc, char** argv) {
  platform::IgnoreSigpipe();
  platform::IgnoreUserSignals();
  platform::RaiseOpenFileLimit();
  const bool stopSignalsCaught = platform::StopSignalPipe::Install();

  QApplication application(argc, argv);
  NameApplication();

  MessageBoxPresenter boxes;
  DesktopHelpLauncher help;
  // The reporter outlives the application object, whose connection threads may call it.
  auto reporter = std::make_unique<WindowReporter>(boxes);
  const std::filesystem::path settingsDirectory = platform::SettingsBacking::DefaultKeyDirectory();
  auto app = std::make_unique<app::ProxyApp>(
      app::SettingsStore(platform::SettingsBacking(settingsDirectory)), *reporter, *reporter);
  app->Settings().EnsureSettingsKey();
  const std::string inspectionProblem = StartInspection(*app, settingsDirectory);

  UiContext context{*app, boxes, help};
  const bool windowLogsFailed =
      RunWindow(application, context, *reporter, stopSignalsCaught, inspectionProblem);
  return FinishRun(*app, *reporter, windowLogsFailed);
}

}  // namespace rw::ui
