#include "ui/main_window.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>
#include <utility>

#include "app/help_run_count.h"
#include "ui/about_page.h"
#include "ui/page_rectangle.h"
#include "ui/program_picture.h"
#include "ui/settings_page.h"
#include "ui/splash_window.h"

namespace rw::ui {
namespace {

// Gives the focus to the first control of `page` that takes it from the Tab key.
void FocusFirstControl(QWidget* page) {
  for (QWidget* next = page->nextInFocusChain(); next != page; next = next->nextInFocusChain()) {
    if (page->isAncestorOf(next) && next->isVisibleTo(page) && next->isEnabled() &&
        (next->focusPolicy() & Qt::TabFocus) != 0) {
      next->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

}  // namespace

MainWindow::MainWindow(UiContext& uiContext, const ViewerPageMakers& makers, QWidget* parent)
    : QWidget(parent), context(uiContext) {
  setWindowTitle(QStringLiteral("Relaywatch"));
  setWindowIcon(ProgramPicture::Icon());
  resize(900, 560);

  tabs = new QTabBar(this);
  tabs->setExpanding(false);
  tabs->setDrawBase(true);
  for (const QString& text :
       {tr("Settings"), tr("Requests"), tr("Responses"), tr("Detail"), tr("About")}) {
    tabs->addTab(text);
  }
  tabs->setAccessibleName(tr("Pages"));

  // Settings first: its start-up loads and applies the settings and starts listening.
  settingsPage = new SettingsPage(uiContext, this);
  pages[kSettings] = settingsPage;
  pages[kRequests] = makers.requests(uiContext, this);
  pages[kResponses] = makers.responses(uiContext, this);
  pages[kDetail] = makers.detail(uiContext, this);
  pages[kAbout] = new AboutPage(this);
  connect(settingsPage, &SettingsPage::ExitRequested, this, &QWidget::close);
  connect(tabs, &QTabBar::currentChanged, this, &MainWindow::TabChanged);

  // The tab strip's own keys only work while it has the focus; these work from any page.
  auto step = [this](int by) {
    tabs->setCurrentIndex((tabs->currentIndex() + by + kTabCount) % kTabCount);
  };
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(1); });
  }
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                   QKeySequence(Qt::CTRL | Qt::Key_PageUp)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(-1); });
  }

  timer = new QTimer(this);
  timer->setInterval(kTimerMilliseconds);
  connect(timer, &QTimer::timeout, this, &MainWindow::TimerTick);
  timer->start();
  startTime = uiContext.now();

  LayoutPages();

  splash = new SplashWindow(this);
  splash->ShowCentred();
  splashShown = true;
}

MainWindow::~MainWindow() = default;

void MainWindow::TabChanged(int index) {
  if (index == currentTab || index < 0 || index >= kTabCount) {
    return;
  }
  currentTab = index;
  for (int i = 0; i < kTabCount; ++i) {
    PageAt(i)->setVisible(i == currentTab);
  }
  Page* selected = PageAt(currentTab);
  // A user stepping through the tabs with the arrow keys keeps the focus on the tab strip;
  // otherwise the page takes it, on its first control.
  if (!tabs->hasFocus()) {
    FocusFirstControl(selected);
  }
  selected->Selected();
}

void MainWindow::TimerTick() {
  if (tickRunning || ended) {
    return;
  }
  tickRunning = true;
  PageAt(currentTab)->TimerTick();
  if (!context.app.Upkeep()) {
    ReportFailedLogPass();
  }
  if (splashShown) {
    SplashCheck();
  }
  tickRunning = false;
}

void MainWindow::EarlyUpkeep() {
  if (tickRunning || ended) {
    return;
  }
  tickRunning = true;
  if (!context.app.Upkeep(app::ProxyApp::UpkeepKind::kEarly)) {
    ReportFailedLogPass();
  }
  tickRunning = false;
}

void MainWindow::ReportFailedLogPass() {
  settingsPage->AutoLogStopped();
  context.boxes.Message(this, tr("Log File failed"));
}

void MainWindow::SplashCheck() {
  if (splash == nullptr) {
    return;
  }
  if (static_cast<uint32_t>(context.now() - startTime) <= kSplashMilliseconds) {
    return;
  }
  splash->close();
  splash->deleteLater();
  splash = nullptr;
  repaint();
  if (app::CountHelpRun(context.app.Settings())) {
    context.help.OpenHelp();
  }
}

void MainWindow::ShowClearedState() {
  for (Page* page : pages) {
    page->ShowClearedState();
  }
}

void MainWindow::EndRun() {
  if (ended) {
    return;
  }
  ended = true;
  timer->stop();
  if (splash != nullptr) {
    splash->close();
  }
  for (Page* page : pages) {
    page->Closing();
  }
}

bool MainWindow::WriteFinalLogs() {
  capture::ConversationStore& store = context.app.Store();
  if (!store.AutoLog() || store.WriteLogs(true)) {
    return true;
  }
  finalLogsFailed = true;
  settingsPage->AutoLogStopped();
  if (!askOnFailedLogs) {
    return true;
  }
  // No upkeep while the user decides: with auto-logging now off it would trim the very data the
  // question is about.
  const bool wasRunning = std::exchange(tickRunning, true);
  const bool exitAnyway = context.boxes.ExitAnyway(
      this, tr("Log File failed\n\nThe captured data has not been written to the log files and is "
               "lost if Relaywatch exits now.\n\nCancel keeps the window and the data: correct "
               "the Log Directory, Apply, then use Log and Clear."));
  tickRunning = wasRunning;
  // A stop signal or a fatal error that came while the box was up ends the run all the same.
  if (exitAnyway || !askOnFailedLogs) {
    return true;
  }
  finalLogsFailed = false;  // the run goes on with the data still held
  return false;
}

void MainWindow::CloseWithoutAsking() {
  askOnFailedLogs = false;
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (writingFinalLogs) {
    // A close from inside the final pass's boxes (a stop signal): the pass under way decides, and
    // CloseWithoutAsking has already told it not to ask.
    event->ignore();
    return;
  }
  if (!ended) {
    writingFinalLogs = true;
    const bool endRun = WriteFinalLogs();
    writingFinalLogs = false;
    if (!endRun) {
      event->ignore();
      return;
    }
  }
  const bool first = !ended;
  EndRun();
  event->accept();
  if (first) {
    emit RunEnded();
  }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutPages();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  LayoutPages();
}

void MainWindow::LayoutPages() {
  if (width() < 1 || height() < 1 || isMinimized()) {
    return;
  }
  tabs->setGeometry(0, 0, width(), tabs->sizeHint().height());
  const QRect header(tabs->mapTo(this, tabs->tabRect(0).topLeft()), tabs->tabRect(0).size());
  const QRect page = PageRectangle(rect(), header);
  for (int i = 0; i < kTabCount; ++i) {
    PageAt(i)->setGeometry(page);
    PageAt(i)->raise();
    PageAt(i)->setVisible(i == currentTab);
  }
}

}  // namespace rw::ui
