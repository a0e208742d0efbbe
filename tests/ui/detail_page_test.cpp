#include "ui/detail_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/ui/viewer_test_support.h"
#include "ui/captured_text_view.h"
#include "ui/detail_list_model.h"

namespace rw::ui {
namespace {

constexpr char kRequest[] = "GET http://a.test/x HTTP/1.1\r\nHost: a.test\r\nUser-Agent: t\r\n\r\n";
constexpr char kResponse[] = "HTTP/1.1 200 OK\nContent-Type: text/plain\n\nhello";

struct DetailPageTest : ::testing::Test {
  DetailPageTest() {
    page.resize(800, 400);
    page.show();
    fixture.notifier.pages = {&page};
  }
  QTreeView* List() { return testing::Named<QTreeView>(page, "list"); }
  DetailListModel* Model() { return testing::Named<DetailListModel>(page, "model"); }
  CapturedTextView* Text() { return testing::Named<CapturedTextView>(page, "text"); }
  QPushButton* Button(const char* name) { return testing::Named<QPushButton>(page, name); }
  QString Cell(int row, int column) { return Model()->index(row, column).data().toString(); }
  void Select(std::initializer_list<int> rows) {
    List()->clearSelection();
    for (const int row : rows) {
      List()->selectionModel()->select(Model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  // Answers the search dialog with `text`; counts how often it was asked.
  void AnswerSearch(const QString& text) {
    page.SetSearchPrompt([this, text](QWidget*) {
      ++prompts;
      return text;
    });
  }
  testing::ViewerFixture fixture;
  DetailPage page{fixture.context};
  int prompts = 0;
};

TEST_F(DetailPageTest, RowsForRequestOnlyAndCompleteExchanges) {
  fixture.Add(kRequest, kResponse);
  fixture.Add("POST http://b.test/ HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi");
  page.Selected();  // the first visit fills the list
  DetailListModel* model = Model();
  ASSERT_EQ(model->rowCount(), 3);
  EXPECT_EQ(Cell(0, 0), "GET http://a.test/x HTTP/1.1");
  EXPECT_EQ(Cell(0, 1), "1");
  EXPECT_EQ(Cell(0, 2), QString::number(sizeof kRequest - 1));
  EXPECT_EQ(Cell(0, 3), "");
  EXPECT_EQ(Cell(1, 0), "HTTP/1.1 200 OK");
  EXPECT_EQ(Cell(1, 1), "");
  EXPECT_EQ(Cell(1, 2), QString::number(sizeof kResponse - 1));
  EXPECT_TRUE(Cell(1, 5).contains('.'));  // seconds with three decimals
  EXPECT_EQ(Cell(2, 0), "POST http://b.test/ HTTP/1.1");

  const QStringList headings = {"Verb / Response", "ID",        "Bytes",
                                "Time/Connect",    "Time/Data", "Time/Total"};
  for (int column = 0; column < 6; ++column) {
    SCOPED_TRACE(column);
    EXPECT_EQ(model->headerData(column, Qt::Horizontal).toString(), headings[column]);
    const auto alignment =
        model->index(0, column).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    EXPECT_EQ(alignment & Qt::AlignHorizontal_Mask, column < 2 ? Qt::AlignLeft : Qt::AlignRight);
    EXPECT_GE(List()->header()->sectionSize(column), DetailListModel::ColumnWidth(column));
  }
  // Request rows and response rows carry different small images.
  const QImage request =
      model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
  const QImage response =
      model->index(1, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
  EXPECT_FALSE(request.isNull());
  EXPECT_NE(request, response);

  // A list that has rows is not rebuilt by visiting the tab; Refresh rebuilds it.
  fixture.Add("GET http://c.test/ HTTP/1.1\r\n\r\n");
  page.Selected();
  EXPECT_EQ(model->rowCount(), 3);
  Button("refreshButton")->click();
  EXPECT_EQ(model->rowCount(), 4);
}

// A decrypted exchange names its full URL and a failed browser handshake says why, while Show
// and Search keep to the bytes as captured inside TLS.
TEST_F(DetailPageTest, DecryptedExchangeAndFailedHandshakeRows) {
  const std::string request = "GET /p?q=1 HTTP/1.1\r\nHost: h.test:8443\r\n\r\n";
  fixture.Add(request, "HTTP/1.1 200 OK\r\n\r\n", "https://h.test:8443");
  const std::string note = "TLS handshake with the browser failed: tlsv1 alert unknown ca";
  fixture.Add("", note, "https://bad.test");
  page.Refresh();
  ASSERT_EQ(Model()->rowCount(), 4);
  const QStringList firstColumn = {"GET https://h.test:8443/p?q=1 HTTP/1.1", "HTTP/1.1 200 OK",
                                   "TLS https://bad.test", QString::fromStdString(note)};
  const QStringList idColumn = {"1", "", "2", ""};
  for (int row = 0; row < 4; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Cell(row, 0), firstColumn[row]);
    EXPECT_EQ(Cell(row, 1), idColumn[row]);
  }
  EXPECT_EQ(Cell(2, 2), "0");

  Select({0});
  Button("showButton")->click();
  EXPECT_TRUE(Text()->toPlainText().startsWith("GET /p?q=1 HTTP/1.1\n"));
  AnswerSearch("https://h.test");  // not in the captured bytes
  Button("searchButton")->click();
  EXPECT_EQ(fixture.Messages().back(), "0 Items Found matching: https://h.test");
  AnswerSearch("unknown ca");
  Button("searchButton")->click();
  EXPECT_EQ(fixture.Messages().back(), "1 Items Found matching: unknown ca");
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(3, {}));

  // The handshake row has no request to repeat: a message says so rather than nothing.
  QGuiApplication::clipboard()->setText("before");
  page.CopyAsCurl(2, false);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
  EXPECT_FALSE(fixture.Messages().back().contains("Items Found"));
}

// Each column is wide enough for its heading and its widest expected value at the list's font, the
// first takes the width the others leave, and a column the user sizes keeps its size.
TEST_F(DetailPageTest, ColumnsFitTheirTextAndTheFirstTakesTheSpareWidth) {
  QTreeView* list = List();
  QHeaderView* header = list->header();
  const auto sum = [header] {
    int total = 0;
    for (int column = 0; column < DetailListModel::kColumnCount; ++column) {
      total += header->sectionSize(column);
    }
    return total;
  };
  const auto checkFits = [&](const char* when) {
    SCOPED_TRACE(when);
    const QFontMetrics metrics(list->font());
    for (int column = 0; column < DetailListModel::kColumnCount; ++column) {
      SCOPED_TRACE(column);
      const QString heading = Model()->headerData(column, Qt::Horizontal).toString();
      int value = metrics.horizontalAdvance(DetailListModel::WidestValue(column));
      if (column == DetailListModel::kFirstLine) {
        value += list->iconSize().width();
      }
      EXPECT_GE(header->sectionSize(column), DetailListModel::ColumnWidth(column));
      EXPECT_GT(header->sectionSize(column), metrics.horizontalAdvance(heading));
      EXPECT_GT(header->sectionSize(column), value);
      EXPECT_EQ(header->sectionResizeMode(column), QHeaderView::Interactive);
    }
  };
  EXPECT_EQ(DetailListModel::WidestValue(DetailListModel::kId), "999999");
  checkFits("as it opens");

  // A refresh replaces the rows, not the fit.
  fixture.Add(kRequest, kResponse);
  page.Refresh();
  list->resize(1200, 300);
  checkFits("on a wide list");
  EXPECT_EQ(sum(), list->viewport()->width());

  QFont big = list->font();
  big.setPointSize(big.pointSize() * 2);
  list->setFont(big);
  checkFits("at a larger font");

  // The user drags a column: the fit stops following the list's width.
  header->resizeSection(DetailListModel::kBytes, 150);
  const int first = header->sectionSize(DetailListModel::kFirstLine);
  list->resize(1500, 300);
  EXPECT_EQ(header->sectionSize(DetailListModel::kBytes), 150);
  EXPECT_EQ(header->sectionSize(DetailListModel::kFirstLine), first);
}

TEST_F(DetailPageTest, ShowFollowsSelectionAndFixCarriageReturns) {
  fixture.Add(kRequest, kResponse);
  page.Refresh();
  Select({0, 1});
  Button("showButton")->click();
  const std::string unrepaired = std::string(kRequest) + "\r\n\r\n" + kResponse + "\r\n\r\n";
  EXPECT_EQ(Text()->toPlainText(), QString::fromStdString(unrepaired).replace("\r\n", "\n"));
  const int linesBefore = Text()->blockCount();

  // Checking the box re-shows at once; bare LF lines become CR LF lines, which the control shows
  // as the same lines (so the count stays), and the copied text now has CR before each LF.
  testing::Named<QCheckBox>(page, "fixCarriageReturns")->click();
  EXPECT_EQ(Text()->blockCount(), linesBefore);
  Text()->clear();
  testing::Named<QCheckBox>(page, "fixCarriageReturns")->click();  // unchecking re-shows too
  EXPECT_EQ(Text()->blockCount(), linesBefore);

  Select({});
  page.Show();
  EXPECT_TRUE(Text()->toPlainText().isEmpty());
}

TEST_F(DetailPageTest, ShowMarksRowsWhoseConversationIsGone) {
  fixture.Add("GET http://first.test/ HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  fixture.Add("GET http://second.test/ HTTP/1.1\r\n\r\n");  // open: survives the trim
  page.Refresh();
  ASSERT_EQ(Model()->rowCount(), 3);
  fixture.Store().SetMaxMB(0);
  fixture.Store().TrimToLimit();  // drops the complete conversation only
  List()->selectAll();
  page.Show();
  EXPECT_EQ(Text()->toPlainText(),
            "\nData no longer in Relaywatch Buffers.\n\n"
            "\nData no longer in Relaywatch Buffers.\n\n"
            "GET http://second.test/ HTTP/1.1\n\n\n\n");
  EXPECT_EQ(Cell(0, 0), "GET http://first.test/ HTTP/1.1");  // the row keeps its columns
}

// Captured bytes are UTF-8; what is not valid shows as U+FFFD and the text after it survives.
TEST_F(DetailPageTest, ShowsUtf8AndMarksInvalidBytes) {
  fixture.Add("GET http://a.test/caf\xC3\xA9 HTTP/1.1\r\n\r\n",
              "HTTP/1.1 200 OK\r\n\r\nGr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC \xFF\xC3( end");
  page.Refresh();
  EXPECT_EQ(Cell(0, 0), QString::fromUtf8(u8"GET http://a.test/café HTTP/1.1"));
  Select({1});
  page.Show();
  EXPECT_TRUE(Text()->toPlainText().contains(QString::fromUtf8(u8"Grüße € \uFFFD\uFFFD( end")))
      << Text()->toPlainText().toStdString();
}

TEST_F(DetailPageTest, SearchSelectsExactlyTheMatchingRows) {
  fixture.Add(kRequest, kResponse);
  fixture.Add("GET http://b.test/ HTTP/1.1\r\nHost: b.test\r\n\r\n",
              "HTTP/1.1 404 Not Found\r\n\r\n");
  fixture.Add("GET http://c.test/ HTTP/1.1\r\nuser-agent: u\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  page.Refresh();
  Select({1, 2});  // rows selected before and not matching are deselected
  AnswerSearch("USER-agent");
  Button("searchButton")->click();
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(List()->selectionModel()->selectedRows().size(), 2);
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(0, {}));
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(4, {}));
  EXPECT_EQ(List()->currentIndex().row(), 4);  // the focus mark on the last match
  EXPECT_TRUE(Text()->toPlainText().startsWith("GET http://a.test/x"));
  EXPECT_TRUE(Text()->toPlainText().contains("GET http://c.test/"));
  EXPECT_FALSE(Text()->toPlainText().contains("b.test"));
  EXPECT_EQ(fixture.Messages().last(), "2 Items Found matching: USER-agent");
  EXPECT_EQ(fixture.LastKind(), testing::Box::kInformation);

  // No match: everything deselected, the text emptied, the focus mark left where it was.
  AnswerSearch("nowhere");
  page.Search();
  EXPECT_TRUE(List()->selectionModel()->selectedRows().isEmpty());
  EXPECT_EQ(List()->currentIndex().row(), 4);
  EXPECT_TRUE(Text()->toPlainText().isEmpty());
  EXPECT_EQ(fixture.Messages().last(), "0 Items Found matching: nowhere");
  EXPECT_EQ(fixture.LastKind(), testing::Box::kInformation);
}

TEST_F(DetailPageTest, SearchDoesNothingWhenCancelledOrEmpty) {
  fixture.Add(kRequest, kResponse);
  page.Refresh();
  Select({1});
  page.Show();
  const QString shown = Text()->toPlainText();
  AnswerSearch("");  // Cancel, or Find with an empty box
  page.Search();
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(fixture.Messages().isEmpty());
  EXPECT_EQ(Text()->toPlainText(), shown);
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(1, {}));
}

TEST_F(DetailPageTest, SearchOnEmptyListReportsZero) {
  AnswerSearch("x");
  page.Search();
  EXPECT_EQ(fixture.Messages(), QStringList{"0 Items Found matching: x"});
  EXPECT_TRUE(Text()->toPlainText().isEmpty());
}

TEST_F(DetailPageTest, CopyAsCurlForRequestRows) {
  fixture.Add(kRequest, kResponse);
  page.Refresh();
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  page.CopyAsCurl(1, false);  // a response row repeats nothing
  EXPECT_EQ(clipboard->text(), "before");
  page.CopyAsCurl(0, false);
  EXPECT_EQ(clipboard->text(),
            "curl --noproxy '*' --globoff 'http://a.test/x' --header 'Host: a.test' --header "
            "'User-Agent: t'");
  EXPECT_TRUE(fixture.Messages().isEmpty());

  // Through this proxy: only while it listens, and then on the port it listens on.
  page.CopyAsCurl(0, true);
  EXPECT_EQ(fixture.Messages(), QStringList{"Relaywatch is not listening."});
  EXPECT_EQ(fixture.LastKind(), testing::Box::kMessage);  // a failure: the warning icon
  ASSERT_TRUE(fixture.app.Listener().StartListeningOnEphemeralPortForTest());
  page.CopyAsCurl(0, true);
  EXPECT_EQ(
      clipboard->text(),
      "curl --proxy 'http://127.0.0.1:" + QString::number(fixture.app.Listener().BoundPort()) +
          "' --globoff 'http://a.test/x' --header 'Host: a.test' --header 'User-Agent: t'");
}

TEST_F(DetailPageTest, ExportAsHarWritesSelectedOrAllConversations) {
  fixture.Add(kRequest, kResponse);
  fixture.Add("GET http://b.test/ HTTP/1.1\r\nHost: b.test\r\n\r\n",
              "HTTP/1.1 204 No Content\r\n\r\n");
  fixture.Add("GET http://c.test/ HTTP/1.1\r\nHost: c.test\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  page.Refresh();
  const std::filesystem::path path = fixture.dir.path() / "export.har";
  page.SetSavePathPrompt([&](QWidget*) { return QString::fromStdString(path.string()); });
  const auto read = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  // Both rows of the first exchange and the response row of the third: two entries.
  Select({0, 1, 5});
  page.ExportHar();
  std::string har = read();
  EXPECT_NE(har.find("http://a.test/x"), std::string::npos);
  EXPECT_EQ(har.find("http://b.test/"), std::string::npos);
  EXPECT_NE(har.find("http://c.test/"), std::string::npos);
  EXPECT_EQ(fixture.Messages().last(),
            "2 conversations exported to " + QString::fromStdString(path.string()));
  EXPECT_EQ(fixture.LastKind(), testing::Box::kInformation);

  Select({});  // nothing selected: everything captured
  page.ExportHar();
  har = read();
  EXPECT_NE(har.find("http://b.test/"), std::string::npos);
  EXPECT_EQ(fixture.Messages().last(),
            "3 conversations exported to " + QString::fromStdString(path.string()));

  // Cancelling the save dialog writes nothing and says nothing.
  std::filesystem::remove(path);
  page.SetSavePathPrompt([](QWidget*) { return QString(); });
  page.ExportHar();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(fixture.Messages().size(), 2);

  // A file that cannot be written is a failure, with the warning icon.
  page.SetSavePathPrompt([&](QWidget*) {
    return QString::fromStdString((path.parent_path() / "missing" / "x.har").string());
  });
  page.ExportHar();
  EXPECT_EQ(fixture.Messages().size(), 3);
  EXPECT_EQ(fixture.LastKind(), testing::Box::kMessage);
}

TEST_F(DetailPageTest, CopyAndClearOfTheTextPane) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  Button("copyButton")->click();
  EXPECT_EQ(clipboard->text(), "before");
  fixture.Add(kRequest, kResponse);
  page.Refresh();
  Select({0});
  page.Show();
  Button("copyButton")->click();
  EXPECT_TRUE(clipboard->text().startsWith("GET http://a.test/x HTTP/1.1\nHost: a.test\n"));
  EXPECT_EQ(fixture.Messages(), QStringList{"Text in display window has been copied to clipboard"});
  EXPECT_EQ(fixture.LastKind(), testing::Box::kInformation);
}

// The divider's rules through real mouse events on the page: a press in the 4-pixel gap, moves
// (also beyond the page's edge, held by the mouse grab) and the release.
TEST_F(DetailPageTest, DividerDragsWithTheMouse) {
  const viewer::DividerGeometry& geometry = page.Geometry();
  ASSERT_TRUE(geometry.IsSetUp());
  EXPECT_EQ(geometry.Position(), 640);  // 80 % of 800
  EXPECT_EQ(List()->geometry().width(), 638);
  EXPECT_EQ(Text()->geometry().x(), 642);
  const int top = List()->geometry().y();
  EXPECT_GT(top, Button("refreshButton")->geometry().bottom());

  // A release without a press in the gap does nothing.
  QTest::mouseRelease(&page, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_EQ(geometry.Position(), 640);

  QTest::mousePress(&page, Qt::LeftButton, {}, QPoint(639, 200));
  EXPECT_TRUE(page.Dragging());
  QTest::mouseMove(&page, QPoint(400, 210));
  EXPECT_EQ(List()->geometry().width(), 398);  // the panes follow every move
  EXPECT_EQ(Text()->geometry(), QRect(402, top, 398, 400 - top));
  QTest::mouseMove(&page, QPoint(-300, 210));  // outside the page: clamped to the minimum
  EXPECT_EQ(List()->geometry().width(), 48);
  QTest::mouseRelease(&page, Qt::LeftButton, {}, QPoint(2000, 210));
  EXPECT_FALSE(page.Dragging());
  EXPECT_EQ(geometry.Position(), 750);  // the far right stops 50 pixels from the edge
  EXPECT_EQ(Text()->geometry().width(), 48);

  // Resizing keeps the list's width; the text pane takes the change.
  page.resize(1000, 500);
  EXPECT_EQ(List()->geometry(), QRect(0, top, 748, 500 - top));
  EXPECT_EQ(Text()->geometry(), QRect(752, top, 248, 500 - top));
  page.resize(600, 500);
  EXPECT_EQ(List()->geometry().width(), 748);
  EXPECT_EQ(Text()->geometry().width(), 0);
}

}  // namespace
}  // namespace rw::ui
