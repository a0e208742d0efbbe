#include "ui/settings_page.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "platform/os_sys_calls.h"
#include "tests/ui/ui_fixture.h"
#include "ui/desktop_runner.h"

namespace rw::ui {
namespace {

using testing::Box;
using testing::UiFixture;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

class SettingsPageTest : public UiFixture {
 protected:
  SettingsPage::Controls Page() { return testing::SettingsControls(*window->Settings()); }
  std::string Stored(const char* name) { return app->Settings().ReadSetting(name); }
};

TEST_F(SettingsPageTest, StartUpShowsAppliesAndSavesTheStoredSettings) {
  backing.WriteValue("HttpProxyAddress", "proxy.test");
  backing.WriteValue("HttpProxyPort", "3128");
  backing.WriteValue("MaxMB", "2");
  backing.WriteValue("AutoLog", "1");
  OpenWindow();
  const auto& c = Page();
  EXPECT_EQ(c.listenAddress->text(), "127.0.0.1");
  EXPECT_EQ(c.port->text(), QString::number(port));
  EXPECT_EQ(c.proxyHost->text(), "proxy.test");
  EXPECT_EQ(c.maxMB->text(), "4");
  EXPECT_TRUE(c.autoLog->isChecked());
  EXPECT_EQ(c.listening->text(), QString("127.0.0.1:%1").arg(port));
  EXPECT_EQ(c.proxy->text(), "proxy.test:3128");
  EXPECT_TRUE(app->Store().AutoLog());
  EXPECT_EQ(app->Listener().BoundPort(), port);
  EXPECT_EQ(Stored("MaxMB"), "4");
  EXPECT_EQ(Stored("HttpAddress"), "127.0.0.1");
  EXPECT_TRUE(c.port->hasFocus() || QApplication::focusWidget() == nullptr);
}

TEST_F(SettingsPageTest, ApplyNormalisesTheFieldsPutsThemInForceAndSavesThem) {
  OpenWindow();
  const auto& c = Page();
  app->Store().AddRequestBytes(5000);
  app->Store().AddResponseBytes(7000);
  const uint16_t newPort = testing::FreePort();
  c.port->setText(QString("  %1xyz ").arg(newPort));
  c.proxyHost->setText("  upstream.test ");
  c.proxyPort->setText(" 0 ");
  c.maxMB->setText("2");
  c.logDir->setText(QString::fromStdString(LogDir().string()) + " ");
  c.autoLog->setChecked(true);
  QTest::mouseClick(c.apply, Qt::LeftButton);

  EXPECT_EQ(c.port->text(), QString::number(newPort));
  EXPECT_EQ(c.proxyHost->text(), "upstream.test");
  EXPECT_EQ(c.proxyPort->text(), "");
  EXPECT_EQ(c.maxMB->text(), "4");  // the field shows the limit in force
  EXPECT_EQ(app->Store().MaxMB(), 4);
  EXPECT_TRUE(app->Store().AutoLog());
  EXPECT_EQ(app->Store().RequestBytes(), 0);
  EXPECT_EQ(app->Store().ResponseBytes(), 0);
  EXPECT_EQ(c.listening->text(), QString("127.0.0.1:%1").arg(newPort));
  EXPECT_EQ(c.proxy->text(), "upstream.test:");
  EXPECT_EQ(app->Listener().BoundPort(), newPort);

  EXPECT_EQ(Stored("HttpPort"), std::to_string(newPort));
  EXPECT_EQ(Stored("HttpProxyAddress"), "upstream.test");
  EXPECT_EQ(Stored("HttpProxyPort"), "");
  EXPECT_EQ(Stored("MaxMB"), "4");
  EXPECT_EQ(Stored("AutoLog"), "1");
  EXPECT_EQ(Stored("LogDir"), LogDir().string() + " ");  // as typed
  // Typing alone changes nothing until the next Apply.
  c.maxMB->setText("64");
  EXPECT_EQ(app->Store().MaxMB(), 4);
  EXPECT_TRUE(boxes.boxes.empty());
}

// An upstream proxy at the listening address would send every request back to this program:
// Apply says so in a box and leaves the proxy unused and unsaved, while the listener starts.
TEST_F(SettingsPageTest, ApplyRefusesAnUpstreamProxyAtTheListeningAddress) {
  OpenWindow();
  const auto& c = Page();
  const uint16_t newPort = testing::FreePort();
  c.port->setText(QString::number(newPort));
  c.proxyHost->setText("localhost");
  c.proxyPort->setText(QString::number(newPort));
  QTest::mouseClick(c.apply, Qt::LeftButton);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kError);
  EXPECT_EQ(boxes.boxes[0].text.rfind("The upstream proxy localhost:" + std::to_string(newPort) +
                                          " is this program's own address",
                                      0),
            0u);
  EXPECT_EQ(c.proxyHost->text(), "");
  EXPECT_EQ(c.proxyPort->text(), "");
  EXPECT_EQ(c.proxy->text(), "");
  EXPECT_EQ(Stored("HttpProxyAddress"), "");
  EXPECT_FALSE(app->Engine().Upstream()->use);
  EXPECT_EQ(app->Listener().BoundPort(), newPort);
}

TEST_F(SettingsPageTest, APortWithoutANumberIsEmptiedAndTheListenerReportsIt) {
  OpenWindow();
  const auto& c = Page();
  c.port->setText("none");
  QTest::mouseClick(c.apply, Qt::LeftButton);
  EXPECT_EQ(c.port->text(), "");
  EXPECT_EQ(c.listening->text(), "None");  // nothing listens
  EXPECT_EQ(Stored("HttpPort"), "8010");   // saved empty, which reads as the default
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kError);
  EXPECT_EQ(app->Listener().BoundPort(), 0);
}

TEST_F(SettingsPageTest, DefaultsKeepAutoLoggingAndZeroTheTotals) {
  OpenWindow();
  const auto& c = Page();
  c.proxyHost->setText("upstream.test");
  c.proxyPort->setText("3128");
  c.maxMB->setText("100");
  c.logDir->setText("/somewhere/else");
  c.autoLog->setChecked(true);
  app->Store().AddRequestBytes(4096);
  window->Settings()->RefreshStatistics();
  EXPECT_EQ(c.sent->text(), "4 KB");

  // Defaults listens on 8010. The test holds that port first (unless another program on this
  // machine already does), so it never relays a real browser's traffic: the listener reports the
  // port taken, and the fields are the defaults and saved all the same.
  platform::Socket holder = platform::CreateTcpSocket().value;
  (void)platform::AllowAddressReuse(holder);
  if (platform::BindLoopback(holder, 8010).Ok()) {
    ASSERT_TRUE(platform::Listen(holder).Ok());
  }
  QTest::mouseClick(c.defaults, Qt::LeftButton);
  EXPECT_EQ(app->Listener().BoundPort(), 0);
  EXPECT_EQ(c.listenAddress->text(), "127.0.0.1");
  EXPECT_EQ(c.port->text(), "8010");
  EXPECT_EQ(c.proxyHost->text(), "");
  EXPECT_EQ(c.proxyPort->text(), "");
  EXPECT_EQ(c.maxMB->text(), "8");
  EXPECT_EQ(c.logDir->text().toStdString(), std::filesystem::current_path().string());
  EXPECT_TRUE(c.autoLog->isChecked());
  EXPECT_EQ(Stored("AutoLog"), "1");
  EXPECT_EQ(Stored("HttpPort"), "8010");
  EXPECT_EQ(c.proxy->text(), "");
  // The totals read "0" until the next refresh writes "%d KB" texts.
  EXPECT_EQ(c.sent->text(), "0");
  EXPECT_EQ(c.received->text(), "0");
  window->Settings()->RefreshStatistics();
  EXPECT_EQ(c.sent->text(), "0 KB");
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kError);
  // The logs would now go to the current directory at shutdown; keep it clean.
  app->Store().SetAutoLog(false);
}

TEST_F(SettingsPageTest, ClearDataZeroesTheCounters) {
  OpenWindow();
  const auto& c = Page();
  AddConversation(1, 5120);
  AddConversation(2, 5120);
  app->Store().IncrementConversationCount();
  app->Store().IncrementConversationCount();
  app->Store().AddResponseBytes(1023);  // truncated: still 10 KB
  window->TimerTick();                  // the Settings tab is current: its counters refresh
  EXPECT_EQ(c.sent->text(), "10 KB");
  EXPECT_EQ(c.received->text(), "10 KB");
  EXPECT_EQ(c.sockets->text(), "2 ");
  EXPECT_EQ(c.held->text(), "20 KB");

  QTest::mouseClick(c.clearData, Qt::LeftButton);
  EXPECT_EQ(c.sent->text(), "0 KB");
  EXPECT_EQ(c.received->text(), "0 KB");
  EXPECT_EQ(c.sockets->text(), "0 ");
  EXPECT_EQ(c.held->text(), "0 KB");
  EXPECT_EQ(requests->cleared, 1);
  EXPECT_EQ(detail->cleared, 1);
}

TEST_F(SettingsPageTest, LogAndClearReportsBothFilesOrTheFailure) {
  OpenWindow();
  AddConversation(1, 100);
  QTest::mouseClick(Page().logNow, Qt::LeftButton);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kInformation);
  EXPECT_EQ(boxes.boxes[0].text, "2 Log files saved:  \n" + app->Store().TextLogName() +
                                     "  (Full Text)\n" + app->Store().CsvLogName() + "  (Stats)");
  EXPECT_EQ(app->Store().HeldBytes(), 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  std::ofstream(dir.path() / "file") << "x";
  app->Store().SetLogDir((dir.path() / "file" / "logs").string());
  QTest::mouseClick(Page().logNow, Qt::LeftButton);
  ASSERT_EQ(boxes.boxes.size(), 3u);
  EXPECT_EQ(boxes.boxes[1].text,
            "Could not open file: " + app->Store().TextLogName() + " (Not a directory)");
  EXPECT_EQ(boxes.boxes[2].text, "Log File failed");
  EXPECT_EQ(boxes.boxes[2].kind, Box::kMessage);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// Exit writes the logs and ends the run; the close that follows must not end it again.
TEST_F(SettingsPageTest, ExitWithAutoLoggingWritesTheLogsOnce) {
  OpenWindow();
  app->Store().SetAutoLog(true);
  AddConversation(1, 100);
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  QTest::mouseClick(Page().exit, Qt::LeftButton);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window->isVisible());
  const std::string text = ReadFile(app->Store().TextLogName());
  EXPECT_EQ(Count(text, "GET http://example.test/1 "), 1u);
  EXPECT_EQ(detail->closing, 1);

  AddConversation(2, 100);
  window->close();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(detail->closing, 1);
  EXPECT_EQ(ReadFile(app->Store().TextLogName()), text);
  EXPECT_EQ(Count(ReadFile(app->Store().CsvLogName()), "\"Time\""), 1u);
  EXPECT_TRUE(boxes.boxes.empty());
}

// A log directory below a plain file cannot be written, whoever runs the test.
class UnwritableLogsTest : public SettingsPageTest {
 protected:
  void OpenAutoLogging() {
    OpenWindow();
    std::ofstream(dir.path() / "file") << "x";
    Page().logDir->setText(QString::fromStdString((dir.path() / "file" / "logs").string()));
    Page().autoLog->setChecked(true);
    Page().apply->click();
    ASSERT_TRUE(app->Store().AutoLog());
    boxes.boxes.clear();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Box& box : boxes.boxes) {
      texts.push_back(box.text.substr(0, box.text.find('\n')));
    }
    return texts;
  }
};

// The timer's pass fails: the user hears of it, and the box shows that auto-logging is off, while
// the saved setting waits for the next Apply.
TEST_F(UnwritableLogsTest, AFailedTimerPassIsShownAndUnticksTheBox) {
  OpenAutoLogging();
  app->Store().SetMaxMB(4);
  for (int32_t id = 1; id <= 40; ++id) {
    AddConversation(id, 60000);  // over the limit: the pass is due
  }
  window->TimerTick();
  EXPECT_FALSE(app->Store().AutoLog());
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                "Could not open file: " + app->Store().TextLogName() + " (Not a directory)",
                "Log File failed"}));
  EXPECT_FALSE(Page().autoLog->isChecked());
  EXPECT_EQ(Stored("AutoLog"), "1");
  EXPECT_GT(app->Store().HeldBytes(), 0);
}

TEST_F(UnwritableLogsTest, AFailedLogAndClearUnticksTheBox) {
  OpenAutoLogging();
  AddConversation(1, 100);
  Page().logNow->click();
  ASSERT_FALSE(boxes.boxes.empty());
  EXPECT_EQ(boxes.boxes.back().text, "Log File failed");
  EXPECT_EQ(boxes.boxes.back().kind, Box::kMessage);
  EXPECT_FALSE(Page().autoLog->isChecked());
  EXPECT_EQ(Stored("AutoLog"), "1");
}

// Cancel keeps the window and the data, so the user can mend the directory and write the logs.
TEST_F(UnwritableLogsTest, ClosingOffersToStayAndStayingKeepsTheData) {
  OpenAutoLogging();
  AddConversation(1, 100);
  const int64_t held = app->Store().HeldBytes();
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  boxes.exitAnyway = false;
  window->show();
  window->close();
  EXPECT_EQ(ended.count(), 0);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app->Store().HeldBytes(), held);
  EXPECT_TRUE(window->Timer()->isActive());
  EXPECT_EQ(detail->closing, 0);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[1].kind, Box::kExitAnyway);
  EXPECT_EQ(Texts()[1], "Log File failed");
  EXPECT_FALSE(Page().autoLog->isChecked());

  // Mended: the logs are written and the run ends as usual.
  Page().logDir->setText(QString::fromStdString(LogDir().string()));
  Page().autoLog->setChecked(true);
  Page().apply->click();
  boxes.exitAnyway = true;
  window->close();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window->FinalLogsFailed());
  EXPECT_EQ(app->Store().HeldBytes(), 0);
  EXPECT_EQ(Count(ReadFile(app->Store().TextLogName()), "GET http://example.test/1 "), 1u);
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(UnwritableLogsTest, ExitingAnywayIsAFailedRun) {
  OpenAutoLogging();
  AddConversation(1, 100);
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  window->close();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_TRUE(window->FinalLogsFailed());
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[1].kind, Box::kExitAnyway);
  EXPECT_EQ(DesktopRunner::ExitStatus(false, window->FinalLogsFailed(), {}), 1);
}

// A stop signal ends the run without a question; the failure still counts.
TEST_F(UnwritableLogsTest, ClosingWithoutAskingStillCountsTheFailure) {
  OpenAutoLogging();
  AddConversation(1, 100);
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  window->CloseWithoutAsking();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_TRUE(window->FinalLogsFailed());
  for (const Box& box : boxes.boxes) {
    EXPECT_NE(box.kind, Box::kExitAnyway);
  }
}

// A stop signal that arrives while the question is up ends the run whatever the answer, and the
// failure is not lost.
TEST_F(UnwritableLogsTest, AStopSignalDuringTheQuestionEndsTheRunAsFailed) {
  OpenAutoLogging();
  AddConversation(1, 100);
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  boxes.exitAnyway = false;
  boxes.whileOpen = [&] {
    if (boxes.boxes.back().kind == Box::kExitAnyway) {
      window->CloseWithoutAsking();
    }
  };
  window->close();
  boxes.whileOpen = nullptr;
  EXPECT_EQ(ended.count(), 1);
  EXPECT_TRUE(window->FinalLogsFailed());
  EXPECT_EQ(detail->closing, 1);
}

TEST(DesktopRunnerExitStatus, OneWhenDataWasLostOrMemoryRanOut) {
  app::ProxyApp::FinalLogPass written;
  app::ProxyApp::FinalLogPass failed;
  failed.ran = true;
  failed.written = false;
  EXPECT_EQ(DesktopRunner::ExitStatus(false, false, written), 0);
  EXPECT_EQ(DesktopRunner::ExitStatus(true, false, written), 1);
  EXPECT_EQ(DesktopRunner::ExitStatus(false, true, written), 1);
  EXPECT_EQ(DesktopRunner::ExitStatus(false, false, failed), 1);
}

TEST_F(SettingsPageTest, ClosingWithoutAutoLoggingWritesNothing) {
  OpenWindow();
  AddConversation(1, 100);
  window->close();
  EXPECT_TRUE(std::filesystem::is_empty(LogDir()));
}

TEST_F(SettingsPageTest, HelpOpensOnTheFirstThreeRunsAndFromTheButton) {
  const struct {
    int run;
    int opened;
    const char* runCount;
  } rows[] = {{1, 1, "1"}, {2, 2, "2"}, {3, 3, "3"}, {4, 3, "3"}, {5, 3, "3"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.run);
    OpenWindow();
    window->TimerTick();  // too early: the splash is still up, nothing opens
    EXPECT_EQ(help.opened, row.opened - (row.run <= 3 ? 1 : 0));
    clock += 4000;
    window->TimerTick();
    window->TimerTick();  // once per run
    EXPECT_EQ(help.opened, row.opened);
    EXPECT_EQ(Stored("RunCount"), row.runCount);
    CloseWindow();
  }
  OpenWindow();
  QTest::mouseClick(Page().help, Qt::LeftButton);
  EXPECT_EQ(help.opened, 4);
}

TEST_F(SettingsPageTest, ARunCountWithoutANumberCountsAsNone) {
  backing.WriteValue("RunCount", "many");
  OpenWindow();
  clock += 4000;
  window->TimerTick();
  EXPECT_EQ(help.opened, 1);
  EXPECT_EQ(Stored("RunCount"), "1");
}

TEST_F(SettingsPageTest, EveryFieldIsNamedByItsLabelAndReachedInLayoutOrder) {
  OpenWindow();
  window->show();
  const auto& c = Page();
  for (QWidget* field :
       std::initializer_list<QWidget*>{c.listenAddress, c.port, c.proxyHost, c.proxyPort, c.logDir,
                                       c.maxMB, c.noInspectHosts, c.upstreamCaFile}) {
    SCOPED_TRACE(field->accessibleName().toStdString());
    EXPECT_FALSE(field->accessibleName().isEmpty());
    bool hasBuddy = false;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      hasBuddy = hasBuddy || label->buddy() == field;
    }
    EXPECT_TRUE(hasBuddy);
  }
  const std::vector<QWidget*> order = {
      c.port,        c.proxyHost, c.proxyPort,      c.logDir,
      c.maxMB,       c.autoLog,   c.logNow,         c.inspectHttps,
      c.openBrowser, c.exportCa,  c.noInspectHosts, c.upstreamCaFile,
      c.apply,       c.defaults,  c.clearData,      c.exit,
      c.help};
  for (size_t i = 1; i < order.size(); ++i) {
    QWidget* next = order[i - 1]->nextInFocusChain();
    while (next != nullptr && (next->focusPolicy() & Qt::TabFocus) == 0) {
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, order[i]) << i;
  }
  EXPECT_EQ(c.listenAddress->focusPolicy() & Qt::TabFocus, 0);
}

// A screen reader reaches each value, not just its caption: the value is the label's accessible
// name, and the caption is tied to it as its label.
TEST_F(SettingsPageTest, ValueLabelsExposeTheirValuesToAssistiveTechnology) {
  backing.WriteValue("HttpProxyAddress", "upstream.test");
  backing.WriteValue("HttpProxyPort", "3128");
  OpenWindow();
  window->show();
  app->Store().AddRequestBytes(5120);
  window->Settings()->RefreshStatistics();
  const auto& c = Page();
  const std::pair<const char*, QLabel*> rows[] = {
      {"Listening on:", c.listening}, {"Using Proxy at:", c.proxy}, {"Sent:", c.sent},
      {"Rcv'd:", c.received},         {"Socket Count:", c.sockets}, {"In Buffer:", c.held}};
  EXPECT_EQ(c.sent->text(), "5 KB");
  for (const auto& [caption, value] : rows) {
    SCOPED_TRACE(caption);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(value);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->text(QAccessible::Name), value->text());
    QStringList labels;
    for (const auto& [other, relation] : face->relations(QAccessible::Label)) {
      labels.append(other->text(QAccessible::Name));
    }
    // The group box, where there is one, labels it too.
    EXPECT_TRUE(labels.contains(QString::fromLatin1(caption))) << labels.join('|').toStdString();
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(c.listening)->text(QAccessible::Name),
            QString("127.0.0.1:%1").arg(port));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(c.proxy)->text(QAccessible::Name),
            "upstream.test:3128");
}

}  // namespace
}  // namespace rw::ui

namespace rw::ui {
namespace {

class KeyboardTest : public testing::UiFixture {};

// Nothing needs a mouse: Alt and a label's letter reach its field, Ctrl+Tab the next tab.
TEST_F(KeyboardTest, MnemonicsReachTheFieldsAndCtrlTabTheTabs) {
  OpenWindow();
  window->show();
  QApplication::setActiveWindow(window.get());
  if (!QTest::qWaitForWindowActive(window.get())) {
    GTEST_SKIP() << "this platform cannot activate a window";
  }
  const auto& c = testing::SettingsControls(*window->Settings());
  const std::pair<Qt::Key, QWidget*> rows[] = {
      {Qt::Key_I, c.proxyHost}, {Qt::Key_R, c.proxyPort}, {Qt::Key_E, c.logDir},
      {Qt::Key_M, c.maxMB},     {Qt::Key_P, c.port},
  };
  for (const auto& [key, field] : rows) {
    SCOPED_TRACE(field->accessibleName().toStdString());
    QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), field);
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(window->CurrentTab(), MainWindow::kRequests);
  EXPECT_EQ(requests->selected, 1);
}

}  // namespace
}  // namespace rw::ui
