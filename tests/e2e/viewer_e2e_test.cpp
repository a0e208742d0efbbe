// End to end with a real browser: headless Chromium browses a small local site through the
// listener that the real main window starts, and the traffic then shows on the Requests,
// Responses and Detail pages. Needs /usr/bin/chromium (or $RELAYWATCH_CHROMIUM), python3 and
// openssl; every process it starts is ended by the PID it was given.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QTabBar>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>

#include "tests/ui/ui_fixture.h"
#include "ui/captured_text_view.h"
#include "ui/detail_list_model.h"
#include "ui/detail_page.h"
#include "ui/text_stream_page.h"

namespace rw::ui {
namespace {

constexpr int kBrowserMilliseconds = 90000;
constexpr char kHeading[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x80\x93 caf\xC3\xA9";

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A child process in a session of its own, so that ending it also ends the helpers it started
// (Chromium's renderers and zygote), and nothing else.
class OwnedProcess {
 public:
  OwnedProcess() {
    process.setChildProcessModifier([] { ::setsid(); });
  }
  ~OwnedProcess() { End(); }
  QProcess& Get() { return process; }
  void Start() {
    process.start();
    process.waitForStarted(10000);
    group = static_cast<pid_t>(process.processId());
  }
  // Ends the child and whatever of its session is left; only processes this object started.
  void End() {
    if (group > 0) {
      ::kill(-group, SIGKILL);
      group = 0;
    }
    process.waitForFinished(5000);
  }

 private:
  QProcess process;
  pid_t group = 0;
};

QString Chromium() {
  const QString chosen = qEnvironmentVariable("RELAYWATCH_CHROMIUM");
  return chosen.isEmpty() ? QStringLiteral("/usr/bin/chromium") : chosen;
}

class ViewerEndToEnd : public testing::UiFixture {
 protected:
  // Starts the origin server on a free port of its choosing; returns that port (0 on failure).
  int StartOrigin() {
    const std::filesystem::path site = dir.path() / "site";
    std::filesystem::create_directory(site);
    WriteFile(site / "index.html",
              std::string("<!doctype html><html><head><meta charset=\"utf-8\">"
                          "<title>Viewer test</title><link rel=\"stylesheet\" href=\"style.css\">"
                          "</head><body><h1>") +
                  kHeading +
                  "</h1><img src=\"dot.svg\"><script src=\"app.js\"></script></body></html>\n");
    WriteFile(site / "style.css", "body { color: #123456; }\n");
    WriteFile(site / "app.js", "document.title += ' loaded';\n");
    WriteFile(site / "dot.svg",
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>\n");

    const QString base = QString::fromStdString(dir.path().string());
    QProcess openssl;
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                   "/CN=127.0.0.1", "-keyout", base + "/key.pem", "-out", base + "/cert.pem"});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
      return 0;
    }
    origin.Get().setProgram("python3");
    origin.Get().setArguments({QStringLiteral(RELAYWATCH_SOURCE_DIR "/tests/e2e/origin.py"),
                               base + "/site", base + "/ports", base + "/cert.pem",
                               base + "/key.pem"});
    origin.Start();
    for (int i = 0; i < 100 && !std::filesystem::exists(dir.path() / "ports"); ++i) {
      QTest::qWait(100);
    }
    int httpPort = 0;
    std::ifstream(dir.path() / "ports") >> httpPort;
    return httpPort;
  }

  // The browser loads the page with its style sheet, image and script through the proxy, and
  // prints the page as it ended up.
  QString Browse(const QString& url) {
    const QString profile = QString::fromStdString((dir.path() / "profile").string());
    browser.Get().setProgram(Chromium());
    browser.Get().setArguments(
        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile, "--proxy-server=http://127.0.0.1:" + QString::number(port),
         // Loopback through the proxy (Chromium bypasses it for loopback by default); the
         // browser's own background requests (updates, time, sign-in) go direct instead and
         // fail at once, since no name resolves: the test stays on this machine.
         "--proxy-bypass-list=<-loopback>;*.google.com;*.googleapis.com;*.gstatic.com;*.gvt1.com",
         "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "--dump-dom", url});
    browser.Start();
    // The proxy runs on its own threads, so the GUI thread may block here.
    if (!browser.Get().waitForFinished(kBrowserMilliseconds)) {
      ADD_FAILURE() << "Chromium did not finish within " << kBrowserMilliseconds << " ms";
    }
    browser.End();
    return QString::fromUtf8(browser.Get().readAllStandardOutput());
  }

  // With RELAYWATCH_SCREENSHOT_DIR set (scripts/screenshots.sh sets it), saves the window as it
  // shows now to NAME.png there, for the README: pages with traffic a real browser made.
  void SaveScreenshot(const QString& name) {
    const QString directory = qEnvironmentVariable("RELAYWATCH_SCREENSHOT_DIR");
    if (directory.isEmpty()) {
      return;
    }
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save(directory + "/" + name + ".png")) << name.toStdString();
  }

  OwnedProcess origin;
  OwnedProcess browser;
};

TEST_F(ViewerEndToEnd, BrowsedSiteShowsOnAllThreeViewerPages) {
  if (!QFileInfo(Chromium()).isExecutable()) {
    GTEST_SKIP() << "no Chromium at " << Chromium().toStdString();
  }
  const int originPort = StartOrigin();
  ASSERT_GT(originPort, 0) << "the origin server did not start";
  OpenWindow(/*real=*/true);
  window->resize(900, 560);
  window->show();
  ASSERT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;  // the listener is up

  const QString site = "http://127.0.0.1:" + QString::number(originPort);
  const QString page = Browse(site + "/index.html");
  // The script ran, so every part of the page came through the proxy.
  ASSERT_TRUE(page.contains("Viewer test loaded")) << page.toStdString();
  ASSERT_TRUE(page.contains(QString::fromUtf8(kHeading)));

  window->TabBar()->setCurrentIndex(MainWindow::kRequests);
  auto* requestsPage = dynamic_cast<TextStreamPage*>(window->PageAt(MainWindow::kRequests));
  ASSERT_NE(requestsPage, nullptr);
  const QString requestText = requestsPage->findChild<CapturedTextView*>("text")->toPlainText();
  for (const char* path : {"/index.html", "/style.css", "/dot.svg", "/app.js"}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(requestText.contains("GET " + site + path + " HTTP/1.1"))
        << requestText.toStdString();
  }
  SaveScreenshot("requests");

  window->TabBar()->setCurrentIndex(MainWindow::kResponses);
  auto* responsesPage = dynamic_cast<TextStreamPage*>(window->PageAt(MainWindow::kResponses));
  ASSERT_NE(responsesPage, nullptr);
  const QString responseText = responsesPage->findChild<CapturedTextView*>("text")->toPlainText();
  EXPECT_TRUE(responseText.contains("HTTP/1.1 200 OK")) << responseText.toStdString();
  EXPECT_TRUE(responseText.contains(QString::fromUtf8(kHeading)));  // UTF-8 shown whole
  EXPECT_TRUE(responseText.contains("color: #123456"));

  window->TabBar()->setCurrentIndex(MainWindow::kDetail);
  auto* detailPage = dynamic_cast<DetailPage*>(window->PageAt(MainWindow::kDetail));
  ASSERT_NE(detailPage, nullptr);
  DetailListModel* model = detailPage->findChild<DetailListModel*>("model");
  int indexRow = -1;
  for (int row = 0; row < model->rowCount(); ++row) {
    if (model->index(row, 0).data().toString() == "GET " + site + "/index.html HTTP/1.1") {
      indexRow = row;
    }
  }
  ASSERT_GE(indexRow, 0) << model->rowCount() << " rows";
  // Nothing but the local site went through the proxy.
  for (int row = 0; row < model->rowCount(); row += 1) {
    if (model->Row(row).IsRequest()) {
      EXPECT_TRUE(model->index(row, 0).data().toString().contains(" " + site + "/"))
          << model->index(row, 0).data().toString().toStdString();
    }
  }
  ASSERT_LT(indexRow + 1, model->rowCount());
  EXPECT_EQ(model->index(indexRow + 1, 0).data().toString(), "HTTP/1.1 200 OK");
  EXPECT_GE(model->rowCount(), 8);  // four requests and their four responses at least
  detailPage->findChild<QTreeView*>("list")->selectionModel()->select(
      model->index(indexRow + 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  detailPage->Show();
  EXPECT_TRUE(detailPage->findChild<CapturedTextView*>("text")->toPlainText().contains(
      QString::fromUtf8(kHeading)));
  SaveScreenshot("detail");
}

}  // namespace
}  // namespace rw::ui
