#include "ui/text_stream_page.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>

#include "tests/ui/viewer_test_support.h"
#include "ui/captured_text_view.h"
#include "ui/detail_list_model.h"
#include "ui/detail_page.h"

namespace rw::ui {
namespace {

using Stream = TextStreamPage::Stream;

std::string CrLfRequest(int lines) {
  std::string request = "GET http://a.test/ HTTP/1.1\r\n";
  for (int i = 0; i < lines; ++i) {
    request += "X-Line-" + std::to_string(i) + ": value\r\n";
  }
  return request + "\r\n";
}

struct StreamPageTest : ::testing::Test {
  StreamPageTest() {
    page.resize(500, 300);
    page.show();
  }
  testing::ViewerFixture fixture;
  TextStreamPage page{Stream::kRequests, fixture.context};
};

// The control hands back LF where CR LF was set; comparing with that would reset the view on every
// refresh of an unchanged CR LF page.
TEST_F(StreamPageTest, UnchangedRefreshKeepsScrollAndSelection) {
  fixture.Add(CrLfRequest(80), "HTTP/1.1 200 OK\r\n\r\n");
  page.Refresh();
  CapturedTextView* text = page.Text();
  ASSERT_NE(text->toPlainText().toStdString(), fixture.Store().GetNewRequestData());

  text->verticalScrollBar()->setValue(10);
  QTextCursor cursor = text->textCursor();
  cursor.setPosition(40);
  cursor.setPosition(55, QTextCursor::KeepAnchor);
  text->setTextCursor(cursor);
  text->verticalScrollBar()->setValue(10);

  page.Refresh();
  EXPECT_EQ(text->verticalScrollBar()->value(), 10);
  EXPECT_EQ(text->textCursor().anchor(), 40);
  EXPECT_EQ(text->textCursor().position(), 55);
}

TEST_F(StreamPageTest, NewTextOfMoreThanFiveLinesShowsItsEnd) {
  CapturedTextView* text = page.Text();
  fixture.Add(CrLfRequest(60));
  page.Refresh();
  QScrollBar* bar = text->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  // The user scrolls up; new traffic brings the end back into view.
  bar->setValue(0);
  fixture.Add(CrLfRequest(3));
  page.Refresh();
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(StreamPageTest, TypedTextIsReplacedUnlessEqual) {
  fixture.Add("GET http://a.test/ HTTP/1.1\r\n\r\n")->MarkComplete();
  page.Refresh();
  const QString shown = page.Text()->toPlainText();
  page.Text()->setFocus();
  QTest::keyClicks(page.Text(), "typed");
  ASSERT_NE(page.Text()->toPlainText(), shown);
  page.Refresh();
  EXPECT_EQ(page.Text()->toPlainText(), shown);

  // Typing that leaves exactly the store's text is kept as it is, cursor included.
  QTextCursor cursor = page.Text()->textCursor();
  cursor.movePosition(QTextCursor::End);
  page.Text()->setTextCursor(cursor);
  QTest::keyClicks(page.Text(), "x");
  QTest::keyClick(page.Text(), Qt::Key_Backspace);
  const int position = page.Text()->textCursor().position();
  page.Refresh();
  EXPECT_EQ(page.Text()->textCursor().position(), position);

  // Nothing captured: Refresh empties a control the user typed into.
  fixture.Store().Clear();
  QTest::keyClicks(page.Text(), "more");
  page.Refresh();
  EXPECT_TRUE(page.Text()->toPlainText().isEmpty());
}

TEST_F(StreamPageTest, CopyTakesAllTextOrNothing) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  page.CopyButton()->click();
  EXPECT_EQ(clipboard->text(), "before");
  EXPECT_TRUE(fixture.Messages().isEmpty());

  fixture.Add("GET http://a.test/ HTTP/1.1\r\nHost: a.test\r\n\r\n");
  page.Refresh();
  QTextCursor cursor = page.Text()->textCursor();
  cursor.setPosition(2);
  cursor.setPosition(5, QTextCursor::KeepAnchor);  // a partial selection of the user's
  page.Text()->setTextCursor(cursor);
  page.CopyButton()->click();
  EXPECT_EQ(clipboard->text(), page.Text()->toPlainText());
  EXPECT_TRUE(clipboard->text().startsWith("GET http://a.test/ HTTP/1.1\nHost: a.test\n"));
  EXPECT_EQ(page.Text()->textCursor().selectedText().size(), page.Text()->toPlainText().size());
  EXPECT_EQ(fixture.Messages(), QStringList{"Text in display window has been copied to clipboard"});
}

TEST_F(StreamPageTest, AutoRefreshBoxGatesTimerAndTab) {
  EXPECT_TRUE(page.AutoRefreshBox()->isChecked());
  EXPECT_EQ(page.AutoRefreshBox()->text(), "Auto-Refresh (every 4 seconds)");
  fixture.Add("GET http://a.test/ HTTP/1.1\r\n\r\n");
  page.TimerTick();
  EXPECT_FALSE(page.Text()->toPlainText().isEmpty());

  page.Blank();
  page.AutoRefreshBox()->click();
  page.TimerTick();
  page.Selected();
  EXPECT_TRUE(page.Text()->toPlainText().isEmpty());
  page.RefreshButton()->click();
  EXPECT_FALSE(page.Text()->toPlainText().isEmpty());
}

TEST(ViewerPages, ClearFromAnyPageBlanksAllThree) {
  for (int clearing = 0; clearing < 3; ++clearing) {
    SCOPED_TRACE(clearing);
    testing::ViewerFixture fixture;
    TextStreamPage requests(Stream::kRequests, fixture.context);
    TextStreamPage responses(Stream::kResponses, fixture.context);
    DetailPage detail(fixture.context);
    detail.resize(600, 400);
    fixture.notifier.pages = {&requests, &responses, &detail};
    fixture.Add("GET http://a.test/ HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\nbody");
    requests.Refresh();
    responses.Refresh();
    detail.Refresh();
    detail.List()->selectAll();
    detail.Show();
    ASSERT_EQ(detail.Model()->rowCount(), 2);
    ASSERT_TRUE(responses.Text()->toPlainText().startsWith("HTTP/1.1 200 OK"));

    QPushButton* clear[] = {requests.ClearButton(), responses.ClearButton(), detail.ClearButton()};
    clear[clearing]->click();
    EXPECT_TRUE(requests.Text()->toPlainText().isEmpty());
    EXPECT_TRUE(responses.Text()->toPlainText().isEmpty());
    EXPECT_TRUE(detail.Text()->toPlainText().isEmpty());
    EXPECT_EQ(detail.Model()->rowCount(), 0);
    EXPECT_EQ(fixture.Store().ConversationCount(), 0);
  }
}

}  // namespace
}  // namespace rw::ui
