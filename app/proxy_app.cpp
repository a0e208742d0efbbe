#include "app/proxy_app.h"

#include <utility>

#include "app/own_address_upstream.h"
#include "app/settings_schema.h"
#include "platform/process_setup.h"

namespace rw::app {

ProxyApp::ProxyApp(SettingsStore settingsStore, proxy::ListenerErrorSink& errorSink,
                   capture::CaptureNotifier& notifier)
    : settings(std::move(settingsStore)),
      proxySettings(DefaultProxySettings()),
      errors(errorSink),
      store(std::make_unique<capture::ConversationStore>()),
      engine(std::make_unique<proxy::EngineContext>(*store)),
      listener(std::make_unique<proxy::ProxyListener>(*engine, proxySettings, errorSink)) {
  store->SetNotifier(&notifier);
  store->SetLogPassSink(&passCounter);
}

ProxyApp::~ProxyApp() {
  if (!shutDown) {
    Shutdown(std::chrono::seconds(5));
  }
}

void ProxyApp::LoadSettings() {
  settings.EnsureSettingsKey();
  form.Load(settings, *store);
}

std::string ProxyApp::SetInspection(tls::InspectionSettings chosen) {
  inspection = std::move(chosen);
  if (!inspection.On()) {
    engine->PublishInspection(nullptr);
    return {};
  }
  proxy::TlsInspector::CreateResult created = proxy::TlsInspector::Create(inspection);
  engine->PublishInspection(created.inspector);
  if (!created.inspector) {
    inspection = {};
  }
  return created.error;
}

bool ProxyApp::ApplySettings(SettingsForm& applied, ApplyOptions options) {
  applied.Apply(proxySettings, *store);
  if (options.listen) {
    const std::string problem = OwnAddressUpstreamProblem(proxySettings);
    if (!problem.empty()) {
      // Refused where it is set: the proxy fields are emptied, so that neither the engine nor
      // the saved settings use it.
      errors.ShowError(problem + "\n\nThe proxy setting is not used.");
      applied.proxyHost.clear();
      applied.proxyPort.clear();
      applied.proxyLabel.clear();
      proxySettings.proxyAddress.clear();
      proxySettings.proxyPort = 0;
    }
  }
  if (options.save) {
    applied.Save(settings);
  }
  if (!options.listen) {
    return true;
  }
  const bool listening = listener->StartListening();
  if (!listening) {
    // The address and port were not taken up: the label must not claim them.
    applied.listeningLabel = SettingsForm::kNoneLabel;
  }
  return listening;
}

bool ProxyApp::Upkeep(UpkeepKind kind) {
  bool ok = true;
  if (store->AutoLog()) {
    ok = store->WriteLogs(false);
  } else {
    store->TrimToLimit();
  }
  if (kind == UpkeepKind::kTick) {
    store->AfterTickUpkeep();
    platform::ReleaseFreeMemory();
  } else {
    store->AfterEarlyUpkeep();
  }
  return ok;
}

bool ProxyApp::SetHarFile(const std::string& path, const capture::HarCreator& creator) {
  harLog = std::make_unique<capture::HarLog>(path, creator);
  passCounter.SetNext(harLog.get());
  return harLog->Write();
}

ProxyApp::LogNowResult ProxyApp::LogNow() {
  const int64_t before = passCounter.Written();
  LogNowResult result;
  result.written = store->WriteLogs(true);
  result.exchanges = passCounter.Written() - before;
  return result;
}

std::vector<std::shared_ptr<capture::Conversation>> ProxyApp::CompleteConversations() const {
  std::vector<std::shared_ptr<capture::Conversation>> complete = store->Snapshot();
  std::erase_if(complete, [](const auto& conversation) { return !conversation->IsComplete(); });
  return complete;
}

bool ProxyApp::Shutdown(std::chrono::milliseconds wait) {
  shutDown = true;
  listener->StopListening();
  const bool drained = engine->StopConnections(wait);
  finalLogPass = FinalLogPass{};
  if (store->AutoLog()) {
    finalLogPass.ran = true;
    finalLogPass.written = store->WriteLogs(true);
    if (!finalLogPass.written) {
      finalLogPass.unsaved = static_cast<int64_t>(CompleteConversations().size());
    }
  }
  if (harLog) {
    // What no log pass has written (all of it without auto-logging) goes into the HAR file now.
    harLog->Write(CompleteConversations());
  }
  if (!drained) {
    // A connection thread that did not stop may still touch these; leaking them at exit is the
    // safe choice, freeing them would be a use after free.
    (void)listener.release();
    (void)engine.release();
    (void)store.release();
    return false;
  }
  listener.reset();
  engine.reset();
  store.reset();
  return true;
}

}  // namespace rw::app
