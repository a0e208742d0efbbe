// A main window over a real application object, with settings and logs in a temporary
// directory, a free port, recorded message boxes and help launches, and a clock the test moves.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/proxy_app.h"
#include "capture/conversation.h"
#include "platform/settings_backing.h"
#include "tests/support/temp_dir.h"
#include "ui/help_launcher.h"
#include "ui/main_window.h"
#include "ui/message_presenter.h"
#include "ui/qt_text.h"
#include "ui/settings_page.h"
#include "ui/window_reporter.h"

namespace rw::ui::testing {

// The child of `parent` with the object name `name`; the test fails when there is none.
template <typename T>
T* Named(const QObject& parent, const char* name) {
  T* child = parent.findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << "no child named " << name;
  return child;
}

// The Settings page's controls, found by their object names.
inline SettingsPage::Controls SettingsControls(const SettingsPage& page) {
  SettingsPage::Controls c;
  c.listenAddress = Named<QLineEdit>(page, "listenAddress");
  c.port = Named<QLineEdit>(page, "port");
  c.proxyHost = Named<QLineEdit>(page, "proxyHost");
  c.proxyPort = Named<QLineEdit>(page, "proxyPort");
  c.listening = Named<QLabel>(page, "listening");
  c.proxy = Named<QLabel>(page, "proxy");
  c.logDir = Named<QLineEdit>(page, "logDir");
  c.maxMB = Named<QLineEdit>(page, "maxMB");
  c.autoLog = Named<QCheckBox>(page, "autoLog");
  c.logNow = Named<QPushButton>(page, "logNow");
  c.inspectHttps = Named<QCheckBox>(page, "inspectHttps");
  c.caFingerprint = Named<QLabel>(page, "caFingerprint");
  c.exportCa = Named<QPushButton>(page, "exportCa");
  c.noInspectHosts = Named<QLineEdit>(page, "noInspectHosts");
  c.upstreamCaFile = Named<QLineEdit>(page, "upstreamCaFile");
  c.openBrowser = Named<QPushButton>(page, "openBrowser");
  c.sent = Named<QLabel>(page, "sent");
  c.received = Named<QLabel>(page, "received");
  c.sockets = Named<QLabel>(page, "sockets");
  c.held = Named<QLabel>(page, "held");
  c.apply = Named<QPushButton>(page, "apply");
  c.defaults = Named<QPushButton>(page, "defaults");
  c.clearData = Named<QPushButton>(page, "clearData");
  c.exit = Named<QPushButton>(page, "exit");
  c.help = Named<QPushButton>(page, "help");
  return c;
}

struct Box {
  enum Kind { kMessage, kInformation, kError, kFatal, kExitAnyway } kind;
  std::string text;
};

class RecordingPresenter : public MessagePresenter {
 public:
  void Message(QWidget*, const QString& text) override { Record(Box::kMessage, text); }
  void Information(QWidget*, const QString& text) override { Record(Box::kInformation, text); }
  bool ExitAnyway(QWidget*, const QString& text) override {
    Record(Box::kExitAnyway, text);
    return exitAnyway;
  }
  void Error(QWidget*, const QString& text) override { Record(Box::kError, text); }
  void Fatal(QWidget*, const QString& text) override { Record(Box::kFatal, text); }

  std::vector<Box> boxes;
  // The answer to ExitAnyway.
  bool exitAnyway = true;
  // Runs while a box is "open", as the events a real box's nested event loop would deliver.
  std::function<void()> whileOpen;

 private:
  void Record(Box::Kind kind, const QString& text) {
    boxes.push_back({kind, ToStdString(text)});
    if (whileOpen) {
      whileOpen();
    }
  }
};

class RecordingHelp : public HelpLauncher {
 public:
  void OpenHelp() override { ++opened; }
  int opened = 0;
};

// Counts what the window asks of a page.
class SpyPage : public Page {
 public:
  using Page::Page;
  void Selected() override { ++selected; }
  void TimerTick() override { ++ticks; }
  void ShowClearedState() override { ++cleared; }
  void Closing() override { ++closing; }
  int selected = 0;
  int ticks = 0;
  int cleared = 0;
  int closing = 0;
};

// A loopback port that was free a moment ago.
inline uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

class UiFixture : public ::testing::Test {
 protected:
  UiFixture() : backing(dir.path() / "key") {
    backing.CreateKey();
    port = FreePort();
    backing.WriteValue("HttpPort", std::to_string(port));
    std::filesystem::create_directory(LogDir());
    backing.WriteValue("LogDir", LogDir().string());
  }

  ~UiFixture() override {
    CloseWindow();
    if (app != nullptr) {
      app->Shutdown(std::chrono::seconds(5));
    }
  }

  std::filesystem::path LogDir() const { return dir.path() / "logs"; }

  // Makes the application object (once) and a window over it; spies stand in for the viewer
  // pages unless `real` is set.
  void OpenWindow(bool real = false) {
    if (app == nullptr) {
      app = std::make_unique<app::ProxyApp>(
          app::SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter);
      app->Settings().EnsureSettingsKey();
      context = std::make_unique<UiContext>(UiContext{*app, boxes, help, [this] { return clock; }});
    }
    ViewerPageMakers makers;
    if (!real) {
      makers.requests = [this](UiContext&, QWidget* parent) {
        return requests = new SpyPage(parent);
      };
      makers.responses = [this](UiContext&, QWidget* parent) {
        return responses = new SpyPage(parent);
      };
      makers.detail = [this](UiContext&, QWidget* parent) { return detail = new SpyPage(parent); };
    }
    window = std::make_unique<MainWindow>(*context, makers);
    reporter.SetWindow(window.get());
    QObject::connect(&reporter, &WindowReporter::StoreCleared, window.get(),
                     &MainWindow::ShowClearedState);
    QObject::connect(&reporter, &WindowReporter::UpkeepRequested, window.get(),
                     &MainWindow::EarlyUpkeep);
  }

  void CloseWindow() {
    if (window != nullptr) {
      window->close();
      reporter.SetWindow(nullptr);
      window.reset();
    }
  }

  // A complete conversation holding `bytes` of request and of response text.
  std::shared_ptr<capture::Conversation> AddConversation(int32_t id, int32_t bytes) {
    auto conversation = std::make_shared<capture::Conversation>(id, app->Store());
    app->Store().AddConversation(conversation);
    std::string request = "GET http://example.test/" + std::to_string(id) + " HTTP/1.1\r\n\r\n";
    request.resize(static_cast<size_t>(bytes), 'q');
    std::string response = "HTTP/1.1 200 OK\r\n\r\n";
    response.resize(static_cast<size_t>(bytes), 'r');
    conversation->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    conversation->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
    conversation->MarkEnd();
    conversation->MarkComplete();
    return conversation;
  }

  rw::testing::TempDir dir;
  platform::SettingsBacking backing;
  uint16_t port = 0;
  RecordingPresenter boxes;
  RecordingHelp help;
  WindowReporter reporter{boxes};
  uint32_t clock = 1000;
  std::unique_ptr<app::ProxyApp> app;
  std::unique_ptr<UiContext> context;
  std::unique_ptr<MainWindow> window;
  SpyPage* requests = nullptr;
  SpyPage* responses = nullptr;
  SpyPage* detail = nullptr;
};

}  // namespace rw::ui::testing
