// Renders the real main window offscreen and saves one page (or the splash) as a PNG, for the
// README. Settings live in a temporary directory; a few sample exchanges fill the store so the
// counters and pages have something to show. Usage:
//   rw_screenshot [--setting NAME=VALUE]... [--traffic COMMAND] PAGE OUT.png [WIDTH HEIGHT]
// where PAGE is a tab's text (Settings, Requests, Responses, Detail, About) or "Splash". With
// --traffic the pages show what COMMAND, run by sh with RELAYWATCH_PORT and RELAYWATCH_CA (the
// CA certificate when HTTPS inspection is on) in its environment, sent through the window.
#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "app/proxy_app.h"
#include "capture/conversation.h"
#include "platform/settings_backing.h"
#include "ui/detail_list_model.h"
#include "ui/detail_page.h"
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

// Runs the traffic command to its end (at most a minute); false when it failed.
bool RunTraffic(rw::app::ProxyApp& app, const QString& command) {
  QProcess traffic;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("RELAYWATCH_PORT", QString::number(app.Listener().BoundPort()));
  if (app.Inspection().On()) {
    environment.insert("RELAYWATCH_CA",
                       QString::fromStdString(app.Inspection().authority->CertificatePath()));
  }
  traffic.setProcessEnvironment(environment);
  traffic.setProcessChannelMode(QProcess::ForwardedChannels);
  traffic.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
  // The proxy relays on its own threads, so the window may wait here.
  const bool done = traffic.waitForFinished(60000);
  if (!done || traffic.exitStatus() != QProcess::NormalExit || traffic.exitCode() != 0) {
    std::fprintf(stderr, "rw_screenshot: the traffic command failed\n");
    return false;
  }
  return true;
}

// On Detail, the first successful response is selected, so the text pane shows its body.
void SelectFirstResponse(rw::ui::Page* page) {
  auto* detail = dynamic_cast<rw::ui::DetailPage*>(page);
  if (detail == nullptr) {
    return;
  }
  auto* model = detail->findChild<rw::ui::DetailListModel*>(QStringLiteral("model"));
  auto* list = detail->findChild<QTreeView*>(QStringLiteral("list"));
  if (model == nullptr || list == nullptr) {
    return;
  }
  for (int row = 0; row < model->rowCount(); ++row) {
    if (!model->Row(row).IsRequest() && model->index(row, 0).data().toString().contains(" 200 ")) {
      list->selectionModel()->select(model->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
      detail->Show();
      return;
    }
  }
}

struct Arguments {
  QStringList settings;  // NAME=VALUE
  QString traffic;       // a command whose traffic the pages show instead of the sample
  QString scene;         // a tab's text or a scene of kScenes
  QString out;
  QSize size{900, 560};
};

std::optional<Arguments> ParseArguments(QStringList args) {
  Arguments arguments;
  for (; args.size() >= 2 && args[0].startsWith(QStringLiteral("--")); args = args.mid(2)) {
    if (args[0] == QStringLiteral("--traffic")) {
      arguments.traffic = args[1];
    } else if (args[0] == QStringLiteral("--setting")) {
      arguments.settings << args[1];
    } else {
      break;
    }
  }
  if (args.size() != 2 && args.size() != 4) {
    return std::nullopt;
  }
  arguments.scene = args[0];
  arguments.out = args[1];
  if (args.size() == 4) {
    arguments.size = QSize(args[2].toInt(), args[3].toInt());
  }
  return arguments;
}

// Settings of a user past the first runs, in a key of their own under `config`.
// Each `--setting NAME=VALUE` is written over them.
rw::platform::SettingsBacking SampleSettings(const QTemporaryDir& config,
                                             const QStringList& settings) {
  rw::platform::SettingsBacking backing(QDir(config.path()).filePath("key").toStdString());
  backing.CreateKey();
  backing.WriteValue("RunCount", "3");  // no help launch
  backing.WriteValue("LogDir", "/home/user/relaywatch-logs");
  for (const QString& setting : settings) {
    const qsizetype equals = setting.indexOf(QLatin1Char('='));
    backing.WriteValue(setting.left(equals).toStdString(), setting.mid(equals + 1).toStdString());
  }
  return backing;
}

// The window on the tab whose text is `name`, refreshed as its timer would; nothing when no tab
// has that text.
std::optional<QPixmap> GrabTab(rw::ui::MainWindow& window, const QString& name) {
  int tab = -1;
  for (int i = 0; i < window.TabBar()->count(); ++i) {
    if (window.TabBar()->tabText(i).compare(name, Qt::CaseInsensitive) == 0) {
      tab = i;
    }
  }
  if (tab < 0) {
    return std::nullopt;
  }
  window.TabBar()->setCurrentIndex(tab);
  window.PageAt(tab)->TimerTick();  // the refresh the timer would do
  SelectFirstResponse(window.PageAt(tab));
  window.Settings()->RefreshStatistics();
  QApplication::processEvents();
  return window.grab();
}

QPixmap GrabSplash(rw::ui::MainWindow& /*window*/) {
  rw::ui::SplashWindow splash(nullptr);
  splash.ShowCentred();
  QApplication::processEvents();
  return splash.grab();
}

// Pictures other than the window's tabs, by name (in any case). Each gets the shown window with
// its sample traffic; a new scene is one function and one row here.
struct Scene {
  const char* name;
  QPixmap (*grab)(rw::ui::MainWindow& window);
};
const Scene kScenes[] = {
    {"Splash", &GrabSplash},
};

std::optional<QPixmap> Grab(rw::ui::MainWindow& window, const QString& name) {
  for (const Scene& scene : kScenes) {
    if (name.compare(QLatin1String(scene.name), Qt::CaseInsensitive) == 0) {
      return scene.grab(window);
    }
  }
  return GrabTab(window, name);
}

// Shows the main window with the sample traffic (or the traffic command's) and saves the
// picture. Returns the exit status.
int RenderScene(rw::ui::UiContext& context, rw::ui::WindowReporter& reporter,
                const Arguments& arguments) {
  rw::ui::MainWindow window(context);
  reporter.SetWindow(&window);
  if (arguments.traffic.isEmpty()) {
    AddSampleTraffic(context.app);
  } else if (!RunTraffic(context.app, arguments.traffic)) {
    reporter.SetWindow(nullptr);
    return 1;
  }
  window.resize(arguments.size);
  window.show();
  int status = 0;
  if (const std::optional<QPixmap> picture = Grab(window, arguments.scene); !picture) {
    std::fprintf(stderr, "rw_screenshot: no page called %s\n", qPrintable(arguments.scene));
    status = 2;
  } else if (!picture->save(arguments.out)) {
    std::fprintf(stderr, "rw_screenshot: cannot write %s\n", qPrintable(arguments.out));
    status = 1;
  }
  reporter.SetWindow(nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  const std::optional<Arguments> arguments = ParseArguments(QApplication::arguments().mid(1));
  if (!arguments) {
    std::fprintf(stderr,
                 "usage: %s [--setting NAME=VALUE]... [--traffic COMMAND] PAGE OUT.png "
                 "[WIDTH HEIGHT]\n",
                 argv[0]);
    return 2;
  }
  QTemporaryDir config;
  PrintingPresenter boxes;
  NoHelp help;
  rw::ui::WindowReporter reporter(boxes);
  rw::app::ProxyApp app(rw::app::SettingsStore(SampleSettings(config, arguments->settings)),
                        reporter, reporter);
  rw::ui::UiContext context{app, boxes, help};
  const int status = RenderScene(context, reporter, *arguments);
  app.Shutdown(std::chrono::seconds(2));
  return status;
}
