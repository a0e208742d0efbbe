// The viewer pages with a store of 10,000 captured exchanges (20,000 Detail rows): the page
// operations a user waits for, and the Detail list filled through an item widget beside the
// model/view list the page uses. Runs offscreen; the window is laid out and painted as shown.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelection>
#include <QScrollBar>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "app/proxy_app.h"
#include "capture/conversation.h"
#include "proxy/listener_error_sink.h"
#include "tests/support/temp_dir.h"
#include "ui/captured_text_view.h"
#include "ui/detail_list_model.h"
#include "ui/detail_page.h"
#include "ui/help_launcher.h"
#include "ui/message_presenter.h"
#include "ui/qt_text.h"
#include "ui/text_stream_page.h"
#include "ui/ui_context.h"
#include "viewer/detail_row.h"

namespace rw::ui {
namespace {

constexpr int kConversations = 10000;

class Quiet : public MessagePresenter,
              public HelpLauncher,
              public capture::CaptureNotifier,
              public proxy::ListenerErrorSink {
 public:
  void Message(QWidget*, const QString&) override {}
  void Information(QWidget*, const QString&) override {}
  bool ExitAnyway(QWidget*, const QString&) override { return true; }
  void Error(QWidget*, const QString&) override {}
  void Fatal(QWidget*, const QString&) override {}
  void OpenHelp() override {}
  void FatalError(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowClearedState() override {}
  void UpkeepDue() override {}
  void ShowError(const std::string&) override {}
};

// Browser-like exchanges: a request of about 450 bytes, a response of headers and 2 to 6 KiB of
// HTML with some UTF-8.
std::string Request(int i) {
  return "GET http://shop" + std::to_string(i % 37) + ".test/catalogue/item/" + std::to_string(i) +
         "?ref=home HTTP/1.1\r\nHost: shop.test\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64; "
         "rv:115.0) Gecko/20100101 Firefox/115.0\r\nAccept: text/html,application/xhtml+xml,"
         "application/xml;q=0.9,*/*;q=0.8\r\nAccept-Language: en-GB,en;q=0.5\r\nAccept-Encoding: "
         "identity\r\nConnection: keep-alive\r\nCookie: session=" +
         std::to_string(i * 7919) + "; theme=dark\r\nUpgrade-Insecure-Requests: 1\r\n\r\n";
}

std::string Response(int i) {
  std::string body =
      "<!doctype html><html><head><title>Item " + std::to_string(i) + "</title></head><body>\n";
  const int paragraphs = 20 + i % 60;
  for (int p = 0; p < paragraphs; ++p) {
    body +=
        "<p>Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x80\x93 paragraph " +
        std::to_string(p) + " of a caf\xC3\xA9 page.</p>\n";
  }
  body += "</body></html>\n";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nCache-Control: no-cache\r\n\r\n" + body;
}

struct Viewer {
  Viewer()
      : app(app::SettingsStore(platform::SettingsBacking(dir.path() / "key")), quiet, quiet),
        context{app, quiet, quiet, {}} {
    for (int i = 0; i < kConversations; ++i) {
      auto conversation = std::make_shared<capture::Conversation>(i + 1, app.Store());
      app.Store().AddConversation(conversation);
      const std::string request = Request(i);
      const std::string response = Response(i);
      conversation->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
      conversation->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
      conversation->MarkComplete();
    }
  }
  rw::testing::TempDir dir;
  Quiet quiet;
  app::ProxyApp app;
  UiContext context;
};

Viewer& Shared() {
  static Viewer viewer;
  return viewer;
}

// A page's child by its object name.
template <typename T>
T* Child(const QWidget& page, const char* name) {
  return page.findChild<T*>(QLatin1String(name));
}
DetailListModel* Model(const QWidget& page) {
  return Child<DetailListModel>(page, "model");
}
CapturedTextView* Text(const QWidget& page) {
  return Child<CapturedTextView>(page, "text");
}

std::unique_ptr<DetailPage> ShownDetailPage() {
  auto page = std::make_unique<DetailPage>(Shared().context);
  page->resize(1000, 700);
  page->show();
  QApplication::processEvents();
  return page;
}

// Refresh: the rows rebuilt from the store, the list reset and painted.
void BM_DetailRefresh20000Rows(benchmark::State& state) {
  auto page = ShownDetailPage();
  for (auto _ : state) {
    page->Refresh();
    page->repaint();
  }
  state.counters["rows"] = Model(*page)->rowCount();
}

void SelectRows(DetailPage& page, int count, int step) {
  QItemSelection selection;
  for (int row = 0; row < count * step; row += step) {
    selection.select(Model(page)->index(row, 0), Model(page)->index(row, 5));
  }
  Child<QTreeView>(page, "list")
      ->selectionModel()
      ->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// Show of 1,000 selected rows (every 20th: requests and responses alike), then painted.
void BM_DetailShow1000Rows(benchmark::State& state) {
  auto page = ShownDetailPage();
  page->Refresh();
  SelectRows(*page, 1000, 19);
  for (auto _ : state) {
    state.PauseTiming();
    Text(*page)->Blank();
    state.ResumeTiming();
    page->Show();
    page->repaint();
  }
  state.counters["chars"] = static_cast<double>(Text(*page)->document()->characterCount());
}

// Search over every row's full text, then Show of the 1,111 matching request rows.
void BM_DetailSearch20000Rows(benchmark::State& state) {
  auto page = ShownDetailPage();
  page->Refresh();
  page->SetSearchPrompt([](QWidget*) { return QStringLiteral("ITEM/4"); });
  for (auto _ : state) {
    state.PauseTiming();
    Text(*page)->Blank();  // so the matches' texts are shown anew, as at a first search
    state.ResumeTiming();
    page->Search();
    page->repaint();
  }
  state.counters["selected"] =
      Child<QTreeView>(*page, "list")->selectionModel()->selectedRows().size();
}

std::unique_ptr<TextStreamPage> ShownRequestsPage() {
  auto page = std::make_unique<TextStreamPage>(TextStreamPage::Stream::kRequests, Shared().context);
  page->resize(1000, 700);
  page->show();
  QApplication::processEvents();
  return page;
}

// A refresh that puts a new full page text (55,000 bytes of captured data) into the control.
void BM_RequestsRefreshFullPage(benchmark::State& state) {
  auto page = ShownRequestsPage();
  for (auto _ : state) {
    state.PauseTiming();
    page->Blank();
    state.ResumeTiming();
    page->Refresh();
    page->repaint();
  }
  state.counters["lines"] = Text(*page)->blockCount();
}

// The 4-second refresh with no new traffic: the store's text is built and compared, the control
// left alone.
void BM_RequestsRefreshUnchanged(benchmark::State& state) {
  auto page = ShownRequestsPage();
  page->Refresh();
  for (auto _ : state) {
    page->Refresh();
  }
}

// The list classes compared on the same 20,000 rows: fill, lay out and paint the view.
void BM_ListModelView20000Rows(benchmark::State& state) {
  DetailListModel model;
  QTreeView view;
  view.setModel(&model);
  view.setUniformRowHeights(true);
  view.setRootIsDecorated(false);
  view.resize(800, 600);
  view.show();
  for (auto _ : state) {
    model.Reset({});
    model.Reset(viewer::BuildDetailRows(Shared().app.Store()));
    view.repaint();
  }
}

void BM_ListItemWidget20000Rows(benchmark::State& state) {
  QTreeWidget view;
  view.setColumnCount(DetailListModel::kColumnCount);
  view.setUniformRowHeights(true);
  view.setRootIsDecorated(false);
  view.resize(800, 600);
  view.show();
  const QIcon requestIcon = DetailListModel::RequestIcon();
  const QIcon responseIcon = DetailListModel::ResponseIcon();
  for (auto _ : state) {
    view.clear();
    const std::vector<viewer::DetailRow> rows = viewer::BuildDetailRows(Shared().app.Store());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const viewer::DetailRow& row : rows) {
      auto* item = new QTreeWidgetItem(
          QStringList{ToQString(row.firstLine), row.IsRequest() ? QString::number(row.id) : "",
                      QString::number(row.bytes), ToQString(row.connectTime),
                      ToQString(row.dataTime), ToQString(row.totalTime)});
      item->setIcon(0, row.IsRequest() ? requestIcon : responseIcon);
      for (int column = 2; column < DetailListModel::kColumnCount; ++column) {
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
      }
      items.append(item);
    }
    view.addTopLevelItems(items);  // the tree takes ownership
    view.repaint();
  }
}

BENCHMARK(BM_DetailRefresh20000Rows)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DetailShow1000Rows)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DetailSearch20000Rows)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_RequestsRefreshFullPage)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_RequestsRefreshUnchanged)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ListModelView20000Rows)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ListItemWidget20000Rows)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
}  // namespace rw::ui

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
