// The settings as the user edits them (the texts of the Settings page's fields) and the steps
// that load, normalise, apply and save them. Kept free of widgets so the window and the headless
// runner share one implementation. User-interface thread only.
#pragma once

#include <string>

#include "proxy/proxy_settings.h"

namespace rw::capture {
class ConversationStore;
}

namespace rw::app {

class SettingsStore;

class SettingsForm {
 public:
  // Field texts, as the edits hold them.
  std::string listenAddress;
  std::string port;
  std::string proxyHost;
  std::string proxyPort;
  std::string logDir;
  std::string maxMB;
  bool autoLog = false;
  // What a value label shows before the first Apply, and the listening label while nothing
  // listens.
  static constexpr const char* kNoneLabel = "None";
  // The two value labels, derived by Apply.
  std::string listeningLabel = kNoneLabel;
  std::string proxyLabel = kNoneLabel;

  // Defaults into the fields: address, port, empty proxy, current directory, limit 8.
  // The auto-logging box is left as it is.
  void RestoreDefaults();

  // Defaults, then the seven stored values over them: an empty value keeps the default, the
  // limit is shown as it will be in force. Sets the store's autoLog as the box.
  void Load(const SettingsStore& settings, capture::ConversationStore& store);

  // Normalises the fields and puts them into force: listen and proxy settings, the store's limit,
  // auto-logging and log directory; zeroes the Sent and Received totals; sets the labels. The
  // limit field is left showing the limit in force.
  void Apply(proxy::ProxySettings& proxy, capture::ConversationStore& store);

  // The listen and proxy settings that Apply would put into force; the fields are left as they are.
  proxy::ProxySettings ProxySettingsAsApplied() const;

  // Writes the seven values as Apply left them (the limit as it is in force).
  void Save(SettingsStore& settings) const;
};

}  // namespace rw::app
