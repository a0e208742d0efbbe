#include "ui/settings_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <sstream>

#include "platform/os_sys_calls.h"
#include "tests/ui/ui_fixture.h"

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
  const SettingsPage::Controls& Page() { return window->Settings()->Widgets(); }
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
  EXPECT_EQ(c.maxMB->text(), "2");     // the edit keeps what was typed, normalised...
  EXPECT_EQ(app->Store().MaxMB(), 4);  // ...while 4 is in force
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

TEST_F(SettingsPageTest, APortWithoutANumberIsEmptiedAndTheListenerReportsIt) {
  OpenWindow();
  const auto& c = Page();
  c.port->setText("none");
  QTest::mouseClick(c.apply, Qt::LeftButton);
  EXPECT_EQ(c.port->text(), "");
  EXPECT_EQ(c.listening->text(), "127.0.0.1:");
  EXPECT_EQ(Stored("HttpPort"), "8010");  // saved empty, which reads as the default
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
  for (QWidget* field : std::initializer_list<QWidget*>{c.listenAddress, c.port, c.proxyHost,
                                                        c.proxyPort, c.logDir, c.maxMB}) {
    SCOPED_TRACE(field->accessibleName().toStdString());
    EXPECT_FALSE(field->accessibleName().isEmpty());
    bool hasBuddy = false;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      hasBuddy = hasBuddy || label->buddy() == field;
    }
    EXPECT_TRUE(hasBuddy);
  }
  const std::vector<QWidget*> order = {c.port,     c.proxyHost, c.proxyPort, c.logDir,
                                       c.maxMB,    c.autoLog,   c.logNow,    c.apply,
                                       c.defaults, c.clearData, c.exit,      c.help};
  for (size_t i = 1; i < order.size(); ++i) {
    QWidget* next = order[i - 1]->nextInFocusChain();
    while (next != nullptr && (next->focusPolicy() & Qt::TabFocus) == 0) {
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, order[i]) << i;
  }
  EXPECT_EQ(c.listenAddress->focusPolicy() & Qt::TabFocus, 0);
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
  const auto& c = window->Settings()->Widgets();
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
