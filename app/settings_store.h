// The persisted settings: text values in one key, read and written by name.
// User-interface thread only (and the headless runner's main thread); keeps no copy of the values.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/settings_backing.h"

namespace rw::app {

class SettingsStore {
 public:
  // Values longer than this read back as empty (and so as the default where there is one).
  static constexpr size_t kMaxValueBytes = 4096;

  explicit SettingsStore(platform::SettingsBacking backing);

  // Creates the key when missing. Callers ignore the result; failures show up as the read rules.
  bool EnsureSettingsKey();

  // The value's text up to its first NUL. A key that cannot be opened gives "\n" (not empty, and
  // no defaults). A missing, empty or oversized value gives "", or the value's default where the
  // settings schema says the read gives it (the listening address and port).
  std::string ReadSetting(std::string_view name) const;

  // Silent on failure: the value simply keeps its old text.
  void WriteSetting(std::string_view name, std::string_view text);

  // The settings key's folder; the certificate authority lives in its ca/.
  const std::filesystem::path& Directory() const { return backing.KeyDirectory(); }

 private:
  platform::SettingsBacking backing;
};

}  // namespace rw::app
