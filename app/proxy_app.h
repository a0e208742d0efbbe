// The application object: the settings in use, the capture store, the engine's shared values and
// the listener, with the order of start-up and shutdown. One per process, owned by main();
// driven from the main (user-interface) thread only.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/log_pass_counter.h"
#include "app/settings_form.h"
#include "app/settings_store.h"
#include "capture/capture_notifier.h"
#include "capture/conversation_store.h"
#include "export/har_log.h"
#include "proxy/engine_context.h"
#include "proxy/listener_error_sink.h"
#include "proxy/proxy_listener.h"
#include "proxy/proxy_settings.h"
#include "tls/inspection_settings.h"

namespace rw::app {

class ProxyApp {
 public:
  ProxyApp(SettingsStore settings, proxy::ListenerErrorSink& errors,
           capture::CaptureNotifier& notifier);
  ~ProxyApp();
  ProxyApp(const ProxyApp&) = delete;
  ProxyApp& operator=(const ProxyApp&) = delete;

  // What ApplySettings does beyond putting the form into force.
  struct ApplyOptions {
    bool save = true;    // write the values to the settings store
    bool listen = true;  // (re)start the listener
  };

  // Makes sure the settings key exists, then fills the form: defaults, then the stored values.
  void LoadSettings();

  // Puts `form` into force, then saves it and (re)starts the listener as `options` say. Returns
  // whether the listener is accepting (failures were reported through the error sink, and the
  // form's listening label then reads "None"); true when not asked to listen. When asked to
  // listen, an upstream proxy that is the listening address itself is refused through the error
  // sink and its fields emptied.
  bool ApplySettings(SettingsForm& form, ApplyOptions options);

  // The store upkeep: write the logs when auto-logging, else drop the oldest data. False when a
  // log pass was due and failed (the store then turns auto-logging off). The timer's tick also
  // gives freed memory back to the system; an early upkeep (the store asked for one) does not,
  // since traffic fast enough to need it would only take that memory again.
  enum class UpkeepKind { kTick, kEarly };
  bool Upkeep(UpkeepKind kind = UpkeepKind::kTick);

  // Writes the HAR file `path` from now on: at every log pass and at shutdown. Writes the empty
  // document at once, so that a path that cannot be written shows up before any traffic; false
  // then, with HarFile()->LastError() saying why.
  bool SetHarFile(const std::string& path, const capture::HarCreator& creator);
  const capture::HarLog* HarFile() const { return harLog.get(); }
  capture::HarLog* HarFile() { return harLog.get(); }

  // Writes every complete conversation to the log files now, and frees them ("&Log  and Clear").
  struct LogNowResult {
    bool written = false;
    int64_t exchanges = 0;  // conversations written by this pass
  };
  LogNowResult LogNow();

  // The log pass that Shutdown ran.
  struct FinalLogPass {
    bool ran = false;     // auto-logging was on at shutdown
    bool written = true;  // the pass succeeded (true when none ran)
    int64_t unsaved = 0;  // complete conversations it could not write
  };
  const FinalLogPass& LastFinalLogPass() const { return finalLogPass; }

  // Stops listening, ends the open connections (waiting at most `wait`), writes the logs when
  // auto-logging (see LastFinalLogPass), writes the HAR file when there is one, and frees the
  // store. When connection threads are still running after the wait, what they use is
  // deliberately kept alive instead and false is returned: the caller must then end the process
  // with platform::EndProcessNow before anything else the threads reach (the notifier, the error
  // sink, the exchange observer) goes out of scope.
  bool Shutdown(std::chrono::milliseconds wait);

  // What HTTPS inspection runs with, prepared at start; connections that start from now on
  // inspect when it is on. Returns what went wrong making its TLS contexts (empty when nothing
  // did; inspection is then off).
  std::string SetInspection(tls::InspectionSettings settings);
  const tls::InspectionSettings& Inspection() const { return inspection; }

  SettingsForm& Form() { return form; }
  SettingsStore& Settings() { return settings; }
  capture::ConversationStore& Store() { return *store; }
  proxy::EngineContext& Engine() { return *engine; }
  proxy::ProxyListener& Listener() { return *listener; }

 private:
  // Snapshot of the store's complete conversations, oldest first.
  std::vector<std::shared_ptr<capture::Conversation>> CompleteConversations() const;

  SettingsStore settings;
  SettingsForm form;
  proxy::ProxySettings proxySettings;
  proxy::ListenerErrorSink& errors;
  tls::InspectionSettings inspection;
  // Declared before the store, which calls them during its passes, so that they outlive it.
  LogPassCounter passCounter;
  std::unique_ptr<capture::HarLog> harLog;
  FinalLogPass finalLogPass;
  // Declared in the order of their dependencies: the listener uses the engine, the engine and
  // its connection threads use the store.
  std::unique_ptr<capture::ConversationStore> store;
  std::unique_ptr<proxy::EngineContext> engine;
  std::unique_ptr<proxy::ProxyListener> listener;
  bool shutDown = false;
};

}  // namespace rw::app
