#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QTabBar>
#include <QTimer>
#include <fstream>
#include <thread>

#include "tests/ui/ui_fixture.h"
#include "ui/page_rectangle.h"

namespace rw::ui {
namespace {

using testing::Box;
using testing::UiFixture;

class MainWindowTest : public UiFixture {};

TEST_F(MainWindowTest, OpensListeningWithFiveTabsAndTheTimer) {
  OpenWindow();
  EXPECT_EQ(window->windowTitle(), "Relaywatch");
  ASSERT_EQ(window->TabBar()->count(), MainWindow::kTabCount);
  const char* texts[] = {"Settings", "Requests", "Responses", "Detail", "About"};
  for (int i = 0; i < MainWindow::kTabCount; ++i) {
    EXPECT_EQ(window->TabBar()->tabText(i), texts[i]);
  }
  EXPECT_EQ(window->CurrentTab(), MainWindow::kSettings);
  EXPECT_EQ(window->Timer()->interval(), 4000);
  EXPECT_TRUE(window->Timer()->isActive());
  EXPECT_FALSE(window->windowIcon().isNull());
  // The Settings page's start-up started the listener on the stored port.
  EXPECT_EQ(app->Listener().BoundPort(), port);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindowTest, SelectingATabShowsAndRefreshesOnlyThatPage) {
  OpenWindow();
  window->show();
  window->TabBar()->setCurrentIndex(MainWindow::kRequests);
  EXPECT_EQ(window->CurrentTab(), MainWindow::kRequests);
  EXPECT_EQ(requests->selected, 1);
  EXPECT_EQ(responses->selected + detail->selected, 0);
  EXPECT_TRUE(requests->isVisible());
  EXPECT_FALSE(window->PageAt(MainWindow::kSettings)->isVisible());

  window->TabBar()->setCurrentIndex(MainWindow::kDetail);
  EXPECT_EQ(detail->selected, 1);
  EXPECT_FALSE(requests->isVisible());
  window->TabBar()->setCurrentIndex(MainWindow::kAbout);
  EXPECT_TRUE(window->PageAt(MainWindow::kAbout)->isVisible());
  // Selecting the tab that is already current refreshes nothing.
  window->TabBar()->setCurrentIndex(MainWindow::kAbout);
  window->TabBar()->setCurrentIndex(MainWindow::kRequests);
  window->TabBar()->setCurrentIndex(MainWindow::kRequests);
  EXPECT_EQ(requests->selected, 2);
}

TEST_F(MainWindowTest, TimerTickRefreshesTheCurrentPageOnly) {
  OpenWindow();
  const struct {
    int tab;
    int requests, responses, detail;
  } rows[] = {
      {MainWindow::kRequests, 1, 0, 0},
      {MainWindow::kResponses, 0, 1, 0},
      {MainWindow::kDetail, 0, 0, 1},  // the Detail page ignores ticks itself
      {MainWindow::kAbout, 0, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tab);
    requests->ticks = responses->ticks = detail->ticks = 0;
    window->TabBar()->setCurrentIndex(row.tab);
    window->TimerTick();
    EXPECT_EQ(requests->ticks, row.requests);
    EXPECT_EQ(responses->ticks, row.responses);
    EXPECT_EQ(detail->ticks, row.detail);
  }
}

TEST_F(MainWindowTest, TimerTickTrimsOrLogsByAutoLogging) {
  OpenWindow();
  // Just over the 4 MB limit in complete conversations.
  app->Store().SetMaxMB(4);
  for (int32_t id = 1; id <= 36; ++id) {
    AddConversation(id, 60000);
  }
  ASSERT_GE(app->Store().HeldBytes(), app->Store().LimitBytes());

  window->TabBar()->setCurrentIndex(MainWindow::kAbout);  // upkeep runs on every tab
  window->TimerTick();
  EXPECT_LT(app->Store().HeldBytes(), app->Store().LimitBytes());
  EXPECT_TRUE(std::filesystem::is_empty(LogDir()));  // trimmed, not logged

  for (int32_t id = 37; id <= 72; ++id) {
    AddConversation(id, 60000);
  }
  app->Store().SetAutoLog(true);
  const int64_t before = app->Store().HeldBytes();
  window->TimerTick();
  // One automatic pass writes about half the limit's worth, so one tick stays short.
  EXPECT_LE(app->Store().HeldBytes(), before - app->Store().LimitBytes() / 2);
  EXPECT_TRUE(std::filesystem::exists(app->Store().TextLogName()));
  EXPECT_TRUE(std::filesystem::exists(app->Store().CsvLogName()));
  EXPECT_TRUE(boxes.boxes.empty());
}

// Connection threads that fill the store to twice its limit between ticks get an upkeep queued to
// the GUI thread, without waiting for the timer.
TEST_F(MainWindowTest, AStoreAtTwiceItsLimitIsTrimmedBeforeTheNextTick) {
  OpenWindow();
  app->Store().SetMaxMB(4);
  std::thread connections([this] {
    for (int32_t id = 1; id <= 71; ++id) {  // 71 x 120000 bytes: just over 8 MB
      AddConversation(id, 60000);
    }
  });
  connections.join();
  ASSERT_GE(app->Store().HeldBytes(), 2 * app->Store().LimitBytes());
  QCoreApplication::processEvents();
  EXPECT_LT(app->Store().HeldBytes(), app->Store().LimitBytes());
  EXPECT_TRUE(boxes.boxes.empty());
}

// A box opened by the timer's upkeep runs a nested event loop in which the timer keeps firing;
// those ticks must neither stack more boxes nor trim the store under the first.
TEST_F(MainWindowTest, TicksWhileAnUpkeepBoxIsOpenDoNothing) {
  OpenWindow();
  window->TabBar()->setCurrentIndex(MainWindow::kRequests);
  app->Store().SetMaxMB(4);
  for (int32_t id = 1; id <= 36; ++id) {
    AddConversation(id, 60000);
  }
  app->Store().SetAutoLog(true);
  // A log directory below a plain file cannot be written, whoever runs the test.
  std::ofstream(dir.path() / "file") << "x";
  app->Store().SetLogDir((dir.path() / "file" / "logs").string());
  const int64_t held = app->Store().HeldBytes();
  int ticksInside = 0;
  int64_t heldInside = -1;
  boxes.whileOpen = [&] {
    for (int i = 0; i < 3; ++i) {
      window->TimerTick();
      ++ticksInside;
    }
    heldInside = app->Store().HeldBytes();
  };
  window->TimerTick();

  // The store names the file, then the window says the pass failed.
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kMessage);
  EXPECT_EQ(boxes.boxes[0].text.rfind("Could not open file: ", 0), 0u);
  EXPECT_EQ(boxes.boxes[1].kind, Box::kMessage);
  EXPECT_EQ(boxes.boxes[1].text, "Log File failed");
  EXPECT_EQ(ticksInside, 6);
  EXPECT_EQ(heldInside, held);
  EXPECT_EQ(requests->ticks, 1);
  EXPECT_FALSE(app->Store().AutoLog());  // turned off before the box was shown

  // Once the box is closed the timer works again: now it trims.
  boxes.whileOpen = nullptr;
  window->TimerTick();
  EXPECT_EQ(requests->ticks, 2);
  EXPECT_LT(app->Store().HeldBytes(), held);
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(MainWindowTest, SplashClosesAtTheFirstTickAfterTwoSeconds) {
  OpenWindow();
  EXPECT_TRUE(window->SplashUp());
  clock += 2000;
  window->TimerTick();
  EXPECT_TRUE(window->SplashUp());
  clock += 1;
  window->TimerTick();
  EXPECT_FALSE(window->SplashUp());
}

TEST_F(MainWindowTest, ClearedStoreReachesEveryPage) {
  OpenWindow();
  app->Store().Clear();
  EXPECT_EQ(requests->cleared, 1);
  EXPECT_EQ(responses->cleared, 1);
  EXPECT_EQ(detail->cleared, 1);
}

TEST_F(MainWindowTest, PagesFillTheWindowBelowTheTabStrip) {
  OpenWindow();
  window->show();
  window->resize(700, 400);
  QApplication::processEvents();
  const QRect header(window->TabBar()->mapTo(window.get(), window->TabBar()->tabRect(0).topLeft()),
                     window->TabBar()->tabRect(0).size());
  EXPECT_EQ(window->PageAt(MainWindow::kSettings)->geometry(),
            PageRectangle(window->rect(), header));
  window->showMinimized();
  QApplication::processEvents();
  window->showNormal();
  window->resize(800, 500);
  QApplication::processEvents();
  EXPECT_EQ(window->PageAt(MainWindow::kAbout)->geometry(), PageRectangle(window->rect(), header));
}

TEST(PageRectangle, FollowsTheTabHeader) {
  // Client 0,0 900x560; header at 2,2 size 80x24 (bottom edge at y 26).
  EXPECT_EQ(PageRectangle(QRect(0, 0, 900, 560), QRect(2, 2, 80, 24)), QRect(2, 27, 897, 532));
  // Too small a window gives an empty rectangle rather than a negative one.
  EXPECT_EQ(PageRectangle(QRect(0, 0, 1, 20), QRect(2, 2, 80, 24)), QRect(2, 27, 0, 0));
}

}  // namespace
}  // namespace rw::ui
