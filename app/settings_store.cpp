#include "app/settings_store.h"

#include <utility>

#include "app/settings_schema.h"

namespace rw::app {

SettingsStore::SettingsStore(platform::SettingsBacking storage) : backing(std::move(storage)) {}

bool SettingsStore::EnsureSettingsKey() {
  return backing.CreateKey();
}

std::string SettingsStore::ReadSetting(std::string_view name) const {
  using Status = platform::SettingsBacking::ReadStatus;
  auto result = backing.ReadValue(name, kMaxValueBytes);
  if (result.status == Status::kKeyUnavailable) {
    return "\n";
  }
  std::string text;
  if (result.status == Status::kOk) {
    text = std::move(result.data);
    if (const auto nul = text.find('\0'); nul != std::string::npos) {
      text.resize(nul);
    }
  }
  if (const Setting* setting = FindSetting(name);
      text.empty() && setting != nullptr && setting->readGivesDefault) {
    text = setting->defaultText;
  }
  return text;
}

void SettingsStore::WriteSetting(std::string_view name, std::string_view text) {
  backing.WriteValue(name, text);
}

}  // namespace rw::app
