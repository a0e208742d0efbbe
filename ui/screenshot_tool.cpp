// Renders the real main window offscreen and saves one page (or the splash) as a PNG, for the
// README. Settings live in a temporary directory; a few sample exchanges fill the store so the
// counters and pages have something to show. Usage: rw_screenshot PAGE OUT.png [WIDTH HEIGHT]
// where PAGE is a tab's text (Settings, Requests, Responses, Detail, About) or "Splash".
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabBar>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "app/proxy_app.h"
#include "capture/conversation.h"
#include "platform/settings_backing.h"
#include "ui/help_launcher.h"
#include "ui/main_window.h"
#include "ui/message_presenter.h"
#include "ui/settings_page.h"
#include "ui/splash_window.h"
#include "ui/window_reporter.h"

namespace {

// Boxes are printed, not shown: nothing may block an unattended run.
class PrintingPresenter : public rw::ui::MessagePresenter {
 public:
  void Message(QWidget*, const QString& text) override { Print(text); }
  void Information(QWidget*, const QString& text) override { Print(text); }
  bool ExitAnyway(QWidget*, const QString& text) override {
    Print(text);
    return true;
  }
  void Error(QWidget*, const QString& text) override { Print(text); }
  void Fatal(QWidget*, const QString& text) override { Print(text); }

 private:
  static void Print(const QString& text) {
    std::fprintf(stderr, "rw_screenshot: box: %s\n", text.toUtf8().simplified().constData());
  }
};

class NoHelp : public rw::ui::HelpLauncher {
 public:
  void OpenHelp() override {}
};

// A short browsing session: the same four exchanges repeated, each page with a body of realistic
// size, all relayed in full so the counters add up as they would.
void AddSampleTraffic(rw::app::ProxyApp& app) {
  struct Exchange {
    const char* request;
    const char* responseHead;
    const char* bodyLine;
    int bodyLines;
  };
  const Exchange exchanges[] = {
      {"GET http://example.org/ HTTP/1.1\r\nHost: example.org\r\nUser-Agent: Mozilla/5.0\r\n"
       "Accept: text/html\r\n\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n",
       "<p>Example Domain: this domain is for use in illustrative examples.</p>\n", 180},
      {"GET http://example.org/style.css HTTP/1.1\r\nHost: example.org\r\nAccept: text/css\r\n\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n",
       "body { font-family: sans-serif; margin: 2em; }\n", 60},
      {"POST http://api.example.net/v1/search HTTP/1.1\r\nHost: api.example.net\r\n"
       "Content-Type: application/json\r\nContent-Length: "
       "27\r\n\r\n{\"query\":\"relay\",\"page\":1}",
       "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n",
       "{\"name\":\"relaywatch\",\"kind\":\"proxy\"},\n", 40},
      {"GET http://example.org/missing HTTP/1.1\r\nHost: example.org\r\n\r\n",
       "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n", "Not Found\n", 1},
  };
  rw::capture::ConversationStore& store = app.Store();
  for (int32_t id = 1; id <= 24; ++id) {
    const Exchange& exchange = exchanges[(id - 1) % std::size(exchanges)];
    std::string body;
    for (int i = 0; i < exchange.bodyLines; ++i) {
      body += exchange.bodyLine;
    }
    const std::string request = exchange.request;
    const std::string response = std::string(exchange.responseHead) +
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                 body;
    auto conversation = std::make_shared<rw::capture::Conversation>(id, store);
    store.AddConversation(conversation);
    store.IncrementConversationCount();
    conversation->MarkConnectStart();
    conversation->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    conversation->MarkConnected();
    conversation->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
    conversation->MarkEnd();
    conversation->MarkComplete();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: %s PAGE OUT.png [WIDTH HEIGHT]\n", argv[0]);
    return 2;
  }
  const QString pageName = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QSize size = argc == 5 ? QSize(std::atoi(argv[3]), std::atoi(argv[4])) : QSize(900, 560);

  QTemporaryDir config;
  rw::platform::SettingsBacking backing(QDir(config.path()).filePath("key").toStdString());
  backing.CreateKey();
  backing.WriteValue("RunCount", "3");  // no help launch
  backing.WriteValue("LogDir", "/home/user/relaywatch-logs");

  PrintingPresenter boxes;
  NoHelp help;
  rw::ui::WindowReporter reporter(boxes);
  rw::app::ProxyApp app(rw::app::SettingsStore(std::move(backing)), reporter, reporter);
  rw::ui::UiContext context{app, boxes, help};
  int status = 0;
  {
    rw::ui::MainWindow window(context);
    reporter.SetWindow(&window);
    AddSampleTraffic(app);
    window.resize(size);
    window.show();

    QPixmap picture;
    if (pageName.compare(QStringLiteral("Splash"), Qt::CaseInsensitive) == 0) {
      rw::ui::SplashWindow splash(nullptr);
      splash.ShowCentred();
      QApplication::processEvents();
      picture = splash.grab();
    } else {
      int tab = -1;
      for (int i = 0; i < window.TabBar()->count(); ++i) {
        if (window.TabBar()->tabText(i).compare(pageName, Qt::CaseInsensitive) == 0) {
          tab = i;
        }
      }
      if (tab < 0) {
        std::fprintf(stderr, "rw_screenshot: no page called %s\n", argv[1]);
        return 2;
      }
      window.TabBar()->setCurrentIndex(tab);
      window.PageAt(tab)->TimerTick();  // the refresh the timer would do
      window.Settings()->RefreshStatistics();
      QApplication::processEvents();
      picture = window.grab();
    }
    if (!picture.save(out)) {
      std::fprintf(stderr, "rw_screenshot: cannot write %s\n", argv[2]);
      status = 1;
    }
    reporter.SetWindow(nullptr);
  }
  app.Shutdown(std::chrono::seconds(2));
  return status;
}
