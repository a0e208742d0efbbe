#include "app/settings_schema.h"

#include "text/number_parsers.h"
#include "text/text_steps.h"

namespace rw::app {

const Setting* FindSetting(std::string_view name) {
  for (const Setting* setting : setting::kPageSettings) {
    if (setting->name == name) {
      return setting;
    }
  }
  for (const Setting* setting : setting::kInspectionSettings) {
    if (setting->name == name) {
      return setting;
    }
  }
  return name == setting::kRunCount.name ? &setting::kRunCount : nullptr;
}

int32_t NumberField(std::string& text) {
  const int32_t value = text::LeadingInteger(text::Trim(text));
  text = value != 0 ? std::to_string(value) : std::string();
  return value;
}

int32_t LimitInForce(int32_t typed) {
  if (typed == 0) {
    return text::LeadingInteger(setting::kMaxMB.defaultText);
  }
  return typed < kMinimumMaxMB ? kMinimumMaxMB : typed;
}

bool FlagIsOn(std::string_view text) {
  return text == "1";
}

std::string FlagText(bool on) {
  return on ? "1" : "0";
}

proxy::ProxySettings DefaultProxySettings() {
  proxy::ProxySettings settings;
  settings.listenAddress = std::string(setting::kHttpAddress.defaultText);
  settings.listenPort = text::LeadingInteger(setting::kHttpPort.defaultText);
  settings.proxyAddress = std::string(setting::kHttpProxyAddress.defaultText);
  settings.proxyPort = text::LeadingInteger(setting::kHttpProxyPort.defaultText);
  return settings;
}

}  // namespace rw::app
