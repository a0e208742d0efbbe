// What the viewer page tests share: pages without a window over an application object with its
// settings in a temporary directory, recorded message boxes, a clear notice that reaches the
// pages under test, and captured exchanges put straight into the store.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/proxy_app.h"
#include "capture/capture_notifier.h"
#include "capture/conversation.h"
#include "proxy/listener_error_sink.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"
#include "ui/page.h"
#include "ui/ui_context.h"

namespace rw::ui::testing {

// Stands in for the main window: the store's clear notice blanks every page registered here.
class PageNotifier : public capture::CaptureNotifier, public proxy::ListenerErrorSink {
 public:
  void FatalError(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowClearedState() override {
    for (Page* page : pages) {
      page->ShowClearedState();
    }
  }
  void UpkeepDue() override {}
  void ShowError(const std::string&) override {}
  std::vector<Page*> pages;
};

struct ViewerFixture {
  ViewerFixture()
      : app(app::SettingsStore(platform::SettingsBacking(dir.path() / "key")), notifier, notifier),
        context{app, boxes, help, {}} {}

  capture::ConversationStore& Store() { return app.Store(); }

  // The texts of the application message boxes shown so far.
  QStringList Messages() const {
    QStringList texts;
    for (const Box& box : boxes.boxes) {
      texts.append(QString::fromStdString(box.text));
    }
    return texts;
  }

  // The icon of the last box: information for a result, a warning for a failure.
  Box::Kind LastKind() const { return boxes.boxes.empty() ? Box::kFatal : boxes.boxes.back().kind; }

  // A conversation with the given captured bytes, marked complete when it has a response;
  // `origin` for one taken out of TLS.
  std::shared_ptr<capture::Conversation> Add(const std::string& request,
                                             const std::string& response = "",
                                             const std::string& origin = "") {
    auto conversation = std::make_shared<capture::Conversation>(nextId++, Store(), origin);
    Store().AddConversation(conversation);
    if (!request.empty()) {
      conversation->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    }
    if (!response.empty()) {
      conversation->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
      conversation->MarkComplete();
    }
    return conversation;
  }

  rw::testing::TempDir dir;
  RecordingPresenter boxes;
  RecordingHelp help;
  PageNotifier notifier;
  app::ProxyApp app;
  UiContext context;
  int32_t nextId = 1;
};

}  // namespace rw::ui::testing
