#include "ui/window_reporter.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <thread>

#include "tests/ui/ui_fixture.h"

namespace rw::ui {
namespace {

using testing::Box;
using testing::UiFixture;

class WindowReporterTest : public UiFixture {};

// Out of memory on connection threads: the box is queued to the GUI thread, shown once, and the
// window then closes.
TEST_F(WindowReporterTest, FatalErrorsFromConnectionThreadsAreShownOnceOnTheGuiThread) {
  OpenWindow();
  window->show();
  QSignalSpy ended(window.get(), &MainWindow::RunEnded);
  std::thread first([this] { reporter.FatalError("Error in AddRequestData"); });
  std::thread second([this] { reporter.FatalError("Error in AddConversation"); });
  first.join();
  second.join();
  EXPECT_TRUE(boxes.boxes.empty());  // nothing was shown from the connection threads

  QCoreApplication::processEvents();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kFatal);
  EXPECT_EQ(boxes.boxes[0].text.rfind("Error in Add", 0), 0u);
  QCoreApplication::processEvents();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(reporter.FatalSeen());
}

TEST_F(WindowReporterTest, MessagesFromOtherThreadsAreQueuedInOrder) {
  OpenWindow();
  std::thread worker([this] {
    reporter.ShowMessage("first");
    reporter.ShowError("second");
  });
  worker.join();
  EXPECT_TRUE(boxes.boxes.empty());
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kMessage);
  EXPECT_EQ(boxes.boxes[0].text, "first");
  EXPECT_EQ(boxes.boxes[1].kind, Box::kError);
}

}  // namespace
}  // namespace rw::ui
