#include "app/settings_form.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "app/settings_store.h"
#include "capture/conversation_store.h"
#include "proxy/proxy_settings.h"

namespace rw::app {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string SettingsForm::Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) {
    ++begin;
  }
  while (end > begin && IsSpace(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

int32_t SettingsForm::LeadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) {
      value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    ++i;
  }
  if (negative) {
    value = -value;
  }
  if (value > INT32_MAX) {
    value = INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

int32_t SettingsForm::NumberField(std::string& text) {
  text = Trim(text);
  const int32_t value = LeadingInteger(text);
  text = value != 0 ? std::to_string(value) : std::string();
  return value;
}

std::string SettingsForm::CurrentDirectory() {
  std::vector<char> buffer(4096);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    return {};
  }
  return std::string(buffer.data());
}

void SettingsForm::RestoreDefaults() {
  listenAddress = "127.0.0.1";
  port = "8010";
  proxyHost.clear();
  proxyPort.clear();
  if (std::string cwd = CurrentDirectory(); !cwd.empty()) {
    logDir = std::move(cwd);
  }
  maxMB = "8";
}

void SettingsForm::Load(const SettingsStore& settings, capture::ConversationStore& store) {
  // A key that cannot be opened reads as a lone line feed. Taken literally it would become a
  // blank address and port 0, so the proxy would not listen at all; use the defaults instead.
  auto read = [&settings](const char* name) {
    std::string text = settings.ReadSetting(name);
    return text == "\n" ? std::string() : text;
  };
  const std::string address = read("HttpAddress");
  const std::string portText = read("HttpPort");
  const std::string proxyAddressText = read("HttpProxyAddress");
  const std::string proxyPortText = read("HttpProxyPort");
  const std::string autoLogText = read("AutoLog");
  const std::string logDirText = read("LogDir");
  const std::string maxText = read("MaxMB");

  autoLog = autoLogText == "1";
  store.SetAutoLog(autoLog);
  listenAddress = address.empty() ? "127.0.0.1" : address;
  port = portText.empty() ? "8010" : portText;
  proxyHost = proxyAddressText;
  proxyPort = proxyPortText;
  if (!logDirText.empty()) {
    logDir = logDirText;
  }
  int32_t limit = LeadingInteger(maxText);
  if (limit == 0) {
    limit = 8;
  }
  if (limit < 4) {
    limit = 4;
  }
  maxMB = std::to_string(limit);
}

void SettingsForm::Apply(proxy::ProxySettings& proxy, capture::ConversationStore& store) {
  listenAddress = Trim(listenAddress);
  proxy.listenAddress = listenAddress;
  proxyHost = Trim(proxyHost);
  proxy.proxyAddress = proxyHost;
  proxy.listenPort = NumberField(port);
  proxy.proxyPort = NumberField(proxyPort);

  int32_t limit = NumberField(maxMB);
  if (limit == 0) {
    limit = 8;
  }
  if (limit < 4) {
    limit = 4;
  }
  store.SetMaxMB(limit);
  store.SetAutoLog(autoLog);
  store.ResetTrafficCounters();
  store.SetLogDir(logDir);

  listeningLabel = listenAddress + ":" + port;
  const std::string proxyText = proxyHost + ":" + proxyPort;
  proxyLabel = proxyText.size() > 2 ? proxyText : std::string();
}

void SettingsForm::Save(SettingsStore& settings, const capture::ConversationStore& store) const {
  settings.WriteSetting("HttpAddress", listenAddress);
  settings.WriteSetting("HttpPort", port);
  settings.WriteSetting("HttpProxyAddress", proxyHost);
  settings.WriteSetting("HttpProxyPort", proxyPort);
  settings.WriteSetting("AutoLog", store.AutoLog() ? "1" : "0");
  settings.WriteSetting("LogDir", logDir);
  settings.WriteSetting("MaxMB", std::to_string(store.MaxMB()));
}

}  // namespace rw::app
