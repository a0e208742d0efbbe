// The program's one top-level window: a tab strip over five pages, the 4000 ms upkeep timer, the
// start-up splash, help on the first runs, and the logs written on close when auto-logging.
// GUI thread only; created and owned by the desktop runner (or a test).
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "ui/page.h"
#include "ui/splash_window.h"
#include "ui/ui_context.h"
#include "ui/viewer_pages.h"

class QTabBar;
class QTimer;

namespace rw::ui {

class SettingsPage;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  enum Tab { kSettings = 0, kRequests, kResponses, kDetail, kAbout, kTabCount };
  static constexpr int kTimerMilliseconds = 4000;
  static constexpr uint32_t kSplashMilliseconds = 2000;

  // Creates the pages (the Settings page loads and applies the settings and starts listening),
  // starts the timer and shows the splash.
  explicit MainWindow(UiContext& context, const ViewerPageMakers& makers = {},
                      QWidget* parent = nullptr);
  ~MainWindow() override;

  int CurrentTab() const { return currentTab; }
  Page* PageAt(int index) const { return pages.at(static_cast<size_t>(index)); }
  SettingsPage* Settings() const { return settingsPage; }
  QTabBar* TabBar() const { return tabs; }
  QTimer* Timer() const { return timer; }
  bool SplashUp() const { return splash != nullptr; }

  // What the timer runs every 4000 ms: refresh the current page, keep the store within its limit,
  // close the splash once it has been up long enough. A tick that arrives while an earlier one is
  // still running (a message box it opened runs a nested event loop) does nothing.
  void TimerTick();
  // The store asked for its upkeep before the next tick: traffic is outrunning the timer.
  void EarlyUpkeep();

  // Closes without asking about data the logs could not take: a stop signal or exhausted memory
  // ends the run whatever the logs' state.
  void CloseWithoutAsking();
  // The log pass of the close failed and the run ended all the same: the data it held is lost.
  bool FinalLogsFailed() const { return finalLogsFailed; }

 public slots:
  // The store was cleared: every page shows the cleared state.
  void ShowClearedState();

 signals:
  // The run is over (window closed or Exit): the desktop runner shuts down.
  void RunEnded();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void TabChanged(int index);
  void LayoutPages();
  void SplashCheck();
  // The pages' closing work, done once however the run ends.
  void EndRun();
  // The close's log pass when auto-logging. False when it failed and the user chose to stay.
  bool WriteFinalLogs();
  // A log pass that the window ran failed: the store has turned auto-logging off.
  void ReportFailedLogPass();

  UiContext& context;
  QTabBar* tabs = nullptr;
  std::array<Page*, kTabCount> pages{};
  SettingsPage* settingsPage = nullptr;
  QTimer* timer = nullptr;
  QPointer<SplashWindow> splash;
  int currentTab = kSettings;
  uint32_t startTime = 0;
  bool splashShown = false;
  bool tickRunning = false;
  bool ended = false;
  bool askOnFailedLogs = true;
  bool writingFinalLogs = false;
  bool finalLogsFailed = false;
};

}  // namespace rw::ui
