// The settings as the user edits them (the texts of the Settings page's fields) and the steps
// that load, normalise, apply and save them. Kept free of widgets so the window and the headless
// runner share one implementation. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

namespace rw::capture {
class ConversationStore;
}
namespace rw::proxy {
struct ProxySettings;
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
  // The two value labels, derived by Apply.
  std::string listeningLabel = "None";
  std::string proxyLabel = "None";

  // Defaults into the fields: address, port, empty proxy, current directory, limit 8.
  // The auto-logging box is left as it is.
  void RestoreDefaults();

  // Reads the seven values and fills the fields; sets the store's autoLog as the box.
  void Load(const SettingsStore& settings, capture::ConversationStore& store);

  // Normalises the fields and puts them into force: listen and proxy settings, the store's limit,
  // auto-logging and log directory; zeroes the Sent and Received totals; sets the labels.
  void Apply(proxy::ProxySettings& proxy, capture::ConversationStore& store);

  // Writes the seven values as Apply left them (the limit as in force in the store).
  void Save(SettingsStore& settings, const capture::ConversationStore& store) const;

  // Trims the text, takes its leading integer (0 when none), and writes back "%d" or "" for 0.
  static int32_t NumberField(std::string& text);

  // Leading decimal integer with optional sign after leading white space; 0 when there is none.
  // Values beyond 32 bits saturate rather than wrap.
  static int32_t LeadingInteger(const std::string& text);

  static std::string Trim(const std::string& text);
  static std::string CurrentDirectory();
};

}  // namespace rw::app
