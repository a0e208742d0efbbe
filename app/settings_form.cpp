#include "app/settings_form.h"

#include "app/settings_schema.h"
#include "app/settings_store.h"
#include "capture/conversation_store.h"
#include "platform/current_directory.h"
#include "proxy/proxy_settings.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"

namespace rw::app {
namespace {

// Which field holds which text value: every page setting but the one flag, the auto-logging box.
struct FormField {
  const Setting& setting;
  std::string SettingsForm::*text;
};

const FormField kFormFields[] = {
    {setting::kHttpAddress, &SettingsForm::listenAddress},
    {setting::kHttpPort, &SettingsForm::port},
    {setting::kHttpProxyAddress, &SettingsForm::proxyHost},
    {setting::kHttpProxyPort, &SettingsForm::proxyPort},
    {setting::kLogDir, &SettingsForm::logDir},
    {setting::kMaxMB, &SettingsForm::maxMB},
};

std::string SettingsForm::*FieldFor(const Setting& setting) {
  for (const FormField& field : kFormFields) {
    if (&field.setting == &setting) {
      return field.text;
    }
  }
  return nullptr;
}

// The text a value loads and saves as: the limit as it is (or will be) in force, any other
// value as it stands.
std::string TextInForce(const Setting& setting, const std::string& text) {
  if (setting.rule == SettingRule::kLimit) {
    return std::to_string(LimitInForce(text::LeadingInteger(text)));
  }
  return text;
}

// Normalises the field's text in place as Apply does.
void NormaliseField(const Setting& setting, std::string& text) {
  switch (setting.rule) {
    case SettingRule::kText:
      text = text::Trim(text);
      break;
    case SettingRule::kNumber:
      NumberField(text);
      break;
    case SettingRule::kLimit:
      // The field shows what is in force, not the text that was typed: "1" would read 1 while
      // 4 is used, "abc" would read empty while 8 is.
      NumberField(text);
      text = TextInForce(setting, text);
      break;
    case SettingRule::kFlag:
    case SettingRule::kAsTyped:
      break;
  }
}

}  // namespace

void SettingsForm::RestoreDefaults() {
  for (const FormField& field : kFormFields) {
    if (&field.setting == &setting::kLogDir) {
      // When the directory cannot be read the field keeps its text.
      if (std::string cwd = platform::CurrentDirectory(); !cwd.empty()) {
        logDir = std::move(cwd);
      }
    } else {
      this->*field.text = std::string(field.setting.defaultText);
    }
  }
}

void SettingsForm::Load(const SettingsStore& settings, capture::ConversationStore& store) {
  RestoreDefaults();
  for (const Setting* setting : setting::kPageSettings) {
    std::string stored = settings.ReadSetting(setting->name);
    // A key that cannot be opened reads as a lone line feed. Taken literally it would become a
    // blank address and port 0, so the proxy would not listen at all; use the defaults instead.
    if (stored == "\n") {
      stored.clear();
    }
    if (setting->rule == SettingRule::kFlag) {
      autoLog = FlagIsOn(stored);
      store.SetAutoLog(autoLog);
    } else if (!stored.empty()) {
      this->*FieldFor(*setting) = TextInForce(*setting, stored);
    }
  }
}

void SettingsForm::Apply(proxy::ProxySettings& proxy, capture::ConversationStore& store) {
  for (const FormField& field : kFormFields) {
    NormaliseField(field.setting, this->*field.text);
  }
  proxy = ProxySettingsAsApplied();

  store.SetMaxMB(LimitInForce(text::LeadingInteger(maxMB)));
  store.SetAutoLog(autoLog);
  store.ResetTrafficCounters();
  store.SetLogDir(logDir);

  listeningLabel = listenAddress + ":" + port;
  const std::string proxyText = proxyHost + ":" + proxyPort;
  proxyLabel = proxyText.size() > 2 ? proxyText : std::string();
}

proxy::ProxySettings SettingsForm::ProxySettingsAsApplied() const {
  SettingsForm normalised = *this;
  for (const FormField& field : kFormFields) {
    NormaliseField(field.setting, normalised.*field.text);
  }
  proxy::ProxySettings proxy;
  proxy.listenAddress = normalised.listenAddress;
  proxy.proxyAddress = normalised.proxyHost;
  proxy.listenPort = text::LeadingInteger(normalised.port);
  proxy.proxyPort = text::LeadingInteger(normalised.proxyPort);
  return proxy;
}

void SettingsForm::Save(SettingsStore& settings) const {
  for (const Setting* setting : setting::kPageSettings) {
    settings.WriteSetting(setting->name, setting->rule == SettingRule::kFlag
                                             ? FlagText(autoLog)
                                             : TextInForce(*setting, this->*FieldFor(*setting)));
  }
}

}  // namespace rw::app
