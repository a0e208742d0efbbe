#include "ui/desktop_runner.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <memory>

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

int DesktopRunner::Run(int& argc, char** argv) {
  platform::IgnoreSigpipe();
  platform::RaiseOpenFileLimit();
  const bool stopSignalsCaught = platform::StopSignalPipe::Install();

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Relaywatch"));
  QApplication::setApplicationVersion(QStringLiteral(RELAYWATCH_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("relaywatch"));
  QApplication::setWindowIcon(ProgramPicture::Icon());
  // The run ends when the main window closes, whatever other windows (a box) are still up.
  QApplication::setQuitOnLastWindowClosed(false);

  MessageBoxPresenter boxes;
  DesktopHelpLauncher help;
  // The reporter outlives the application object, whose connection threads may call it.
  auto reporter = std::make_unique<WindowReporter>(boxes);
  auto app = std::make_unique<app::ProxyApp>(app::SettingsStore(platform::SettingsBacking(
                                                 platform::SettingsBacking::DefaultKeyDirectory())),
                                             *reporter, *reporter);
  app->Settings().EnsureSettingsKey();

  UiContext context{*app, boxes, help};
  {
    MainWindow window(context);
    reporter->SetWindow(&window);
    QObject::connect(reporter.get(), &WindowReporter::StoreCleared, &window,
                     &MainWindow::ShowClearedState);
    QObject::connect(reporter.get(), &WindowReporter::UpkeepRequested, &window,
                     &MainWindow::EarlyUpkeep);
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
          window.close();
        }
      });
    }
    window.show();
    QApplication::exec();
    reporter->SetWindow(nullptr);
  }

  const int exitCode = reporter->FatalSeen() ? 1 : 0;
  if (!app->Shutdown(std::chrono::seconds(5))) {
    std::fprintf(stderr, "relaywatch: some connections did not end in time\n");
    // Their threads still use the store, the engine and the reporter: end the process here (the
    // logs are closed) rather than let the application and its objects be torn down under them.
    platform::EndProcessNow(exitCode);
  }
  return exitCode;
}

}  // namespace rw::ui
