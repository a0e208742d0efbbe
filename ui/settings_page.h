// The Settings tab: the listening port, upstream proxy, log directory, retention limit and
// auto-logging, HTTPS inspection (the CA's fingerprint and export, the hosts kept as tunnels, the
// extra CA file for servers, Open Browser), four live counters, and Apply, Defaults, Clear Data,
// Exit, Help and Log and Clear. A view over the application's settings form: every rule lives in
// the form and the application object. GUI thread only; owned by the main window.
#pragma once

#include <QString>
#include <functional>
#include <future>

#include "app/browser_launcher.h"
#include "app/inspection_form.h"
#include "ui/page.h"
#include "ui/ui_context.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace rw::ui {

class SettingsPage : public Page {
  Q_OBJECT

 public:
  // Loads the settings, applies them and starts the listener; the port field takes the focus.
  SettingsPage(UiContext& context, QWidget* parent);

  // Writes the four counters into their labels, touching only those whose text changed.
  void RefreshStatistics();

  void Selected() override { RefreshStatistics(); }
  void TimerTick() override { RefreshStatistics(); }
  void ShowClearedState() override { RefreshStatistics(); }

  // A log pass failed and the store turned auto-logging off: the box is unticked to match. The
  // saved setting is left for the user's next Apply.
  void AutoLogStopped();

  // The button actions.
  void Apply();
  void Defaults();
  void ClearData();
  void Exit();
  void Help();
  void LogNow();
  void ExportCaCertificate();
  // Starts the launch and returns; the outcome's box comes once the launcher knows it.
  void OpenBrowser();

  // Asks where to save the CA certificate; empty when the user cancels. A file dialog unless a
  // test puts its own in.
  using PathChooser = std::function<QString(QWidget* parent)>;
  void SetExportPathChooser(PathChooser chooser) { chooseExportPath = std::move(chooser); }

  // The controls, each with its field's name as its object name (tests find them by it).
  struct Controls {
    QLineEdit* listenAddress = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* proxyHost = nullptr;
    QLineEdit* proxyPort = nullptr;
    QLabel* listening = nullptr;
    QLabel* proxy = nullptr;
    QLineEdit* logDir = nullptr;
    QLineEdit* maxMB = nullptr;
    QCheckBox* autoLog = nullptr;
    QPushButton* logNow = nullptr;
    QCheckBox* inspectHttps = nullptr;
    QLabel* caFingerprint = nullptr;
    QPushButton* exportCa = nullptr;
    QLineEdit* noInspectHosts = nullptr;
    QLineEdit* upstreamCaFile = nullptr;
    QPushButton* openBrowser = nullptr;
    QLabel* sent = nullptr;
    QLabel* received = nullptr;
    QLabel* sockets = nullptr;
    QLabel* held = nullptr;
    QPushButton* apply = nullptr;
    QPushButton* defaults = nullptr;
    QPushButton* clearData = nullptr;
    QPushButton* exit = nullptr;
    QPushButton* help = nullptr;
  };

 signals:
  // Exit was clicked: the window ends the run.
  void ExitRequested();

 private:
  void BuildControls();
  QWidget* BuildNetworkGroup();
  QWidget* BuildTraceGroup();
  QWidget* BuildInspectionGroup();
  QHBoxLayout* BuildCounters();
  QHBoxLayout* BuildButtons();
  void SetTabOrder();
  void ConnectControls();
  // The fingerprint and the export button follow the inspection in force.
  void ShowAuthority();
  // The form's texts into the edits, the box and the two value labels.
  void ShowForm();
  // The edits' texts and the box into the form.
  void ReadForm();
  // Polled while a launch runs: shows its outcome once it is ready.
  void ShowBrowserOutcome();

  UiContext& context;
  Controls controls;
  app::InspectionForm inspection;
  PathChooser chooseExportPath;
  std::future<app::BrowserLaunchResult> browserLaunch;  // valid while a launch runs
  QTimer* browserLaunchPoll = nullptr;
};

}  // namespace rw::ui
