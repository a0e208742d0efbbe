#include "app/proxy_app.h"

#include <utility>

#include "app/settings_schema.h"
#include "platform/process_setup.h"

namespace rw::app {

ProxyApp::ProxyApp(SettingsStore settingsStore, proxy::ListenerErrorSink& errors,
                   capture::CaptureNotifier& notifier)
    : settings(std::move(settingsStore)),
      proxySettings(DefaultProxySettings()),
      store(std::make_unique<capture::ConversationStore>()),
      engine(std::make_unique<proxy::EngineContext>(*store)),
      listener(std::make_unique<proxy::ProxyListener>(*engine, proxySettings, errors)) {
  store->SetNotifier(&notifier);
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

bool ProxyApp::ApplySettings(SettingsForm& applied, ApplyOptions options) {
  applied.Apply(proxySettings, *store);
  if (options.save) {
    applied.Save(settings);
  }
  return options.listen ? listener->StartListening() : true;
}

void ProxyApp::Upkeep() {
  if (store->AutoLog()) {
    store->WriteLogs(false);
  } else {
    store->TrimToLimit();
  }
  platform::ReleaseFreeMemory();
}

bool ProxyApp::Shutdown(std::chrono::milliseconds wait) {
  shutDown = true;
  listener->StopListening();
  const bool drained = engine->StopConnections(wait);
  if (store->AutoLog()) {
    store->WriteLogs(true);
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
