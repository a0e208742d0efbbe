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
  CapturedTextView* Text() { return testing::Named<CapturedTextView>(page, "text"); }
  QPushButton* Button(const char* name) { return testing::Named<QPushButton>(page, name); }
  QCheckBox* AutoRefreshBox() { return testing::Named<QCheckBox>(page, "autoRefresh"); }
  testing::ViewerFixture fixture;
  TextStreamPage page{Stream::kRequests, fixture.context};
};

// The control hands back LF where CR LF was set; comparing with that would reset the view on every
// refresh of an unchanged CR LF page.
TEST_F(StreamPageTest, UnchangedRefreshKeepsScrollAndSelection) {
  fixture.Add(CrLfRequest(80), "HTTP/1.1 200 OK\r\n\r\n");
  page.Refresh();
  CapturedTextView* text = Text();
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
  CapturedTextView* text = Text();
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
  const QString shown = Text()->toPlainText();
  Text()->setFocus();
  QTest::keyClicks(Text(), "typed");
  ASSERT_NE(Text()->toPlainText(), shown);
  page.Refresh();
  EXPECT_EQ(Text()->toPlainText(), shown);

  // Typing that leaves exactly the store's text is kept as it is, cursor included.
  QTextCursor cursor = Text()->textCursor();
  cursor.movePosition(QTextCursor::End);
  Text()->setTextCursor(cursor);
  QTest::keyClicks(Text(), "x");
  QTest::keyClick(Text(), Qt::Key_Backspace);
  const int position = Text()->textCursor().position();
  page.Refresh();
  EXPECT_EQ(Text()->textCursor().position(), position);

  // Nothing captured: Refresh empties a control the user typed into.
  fixture.Store().Clear();
  QTest::keyClicks(Text(), "more");
  page.Refresh();
  EXPECT_TRUE(Text()->toPlainText().isEmpty());
}

TEST_F(StreamPageTest, CopyTakesAllTextOrNothing) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  Button("copyButton")->click();
  EXPECT_EQ(clipboard->text(), "before");
  EXPECT_TRUE(fixture.Messages().isEmpty());

  fixture.Add("GET http://a.test/ HTTP/1.1\r\nHost: a.test\r\n\r\n");
  page.Refresh();
  QTextCursor cursor = Text()->textCursor();
  cursor.setPosition(2);
  cursor.setPosition(5, QTextCursor::KeepAnchor);  // a partial selection of the user's
  Text()->setTextCursor(cursor);
  Button("copyButton")->click();
  EXPECT_EQ(clipboard->text(), Text()->toPlainText());
  EXPECT_TRUE(clipboard->text().startsWith("GET http://a.test/ HTTP/1.1\nHost: a.test\n"));
  EXPECT_EQ(Text()->textCursor().selectedText().size(), Text()->toPlainText().size());
  EXPECT_EQ(fixture.Messages(), QStringList{"Text in display window has been copied to clipboard"});
}

TEST_F(StreamPageTest, AutoRefreshBoxGatesTimerAndTab) {
  EXPECT_TRUE(AutoRefreshBox()->isChecked());
  EXPECT_EQ(AutoRefreshBox()->text(), "Auto-Refresh (every 4 seconds)");
  fixture.Add("GET http://a.test/ HTTP/1.1\r\n\r\n");
  page.TimerTick();
  EXPECT_FALSE(Text()->toPlainText().isEmpty());

  page.Blank();
  AutoRefreshBox()->click();
  page.TimerTick();
  page.Selected();
  EXPECT_TRUE(Text()->toPlainText().isEmpty());
  Button("refreshButton")->click();
  EXPECT_FALSE(Text()->toPlainText().isEmpty());
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
    using testing::Named;
    Named<QTreeView>(detail, "list")->selectAll();
    detail.Show();
    ASSERT_EQ(Named<DetailListModel>(detail, "model")->rowCount(), 2);
    ASSERT_TRUE(
        Named<CapturedTextView>(responses, "text")->toPlainText().startsWith("HTTP/1.1 200 OK"));

    QWidget* pages[] = {&requests, &responses, &detail};
    Named<QPushButton>(*pages[clearing], "clearButton")->click();
    for (const QWidget* page : pages) {
      EXPECT_TRUE(Named<CapturedTextView>(*page, "text")->toPlainText().isEmpty());
    }
    EXPECT_EQ(Named<DetailListModel>(detail, "model")->rowCount(), 0);
    EXPECT_EQ(fixture.Store().ConversationCount(), 0);
  }
}

}  // namespace
}  // namespace rw::ui
