// The persistent key-value store the settings live in: one directory is the key, each value one
// file holding its bytes exactly.
// Used on the user-interface thread; no state beyond the key's path.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace rw::platform {

class SettingsBacking {
 public:
  enum class ReadStatus { kOk, kKeyUnavailable, kValueMissing, kTooLarge };

  struct ReadResult {
    ReadStatus status = ReadStatus::kValueMissing;
    std::string data;  // the value's bytes when status is kOk
  };

  explicit SettingsBacking(std::filesystem::path keyDirectory);

  // $RELAYWATCH_CONFIG_DIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/relaywatch, joined with the
  // settings key's path (machine root, maker, program), so the values keep one fixed place.
  static std::filesystem::path DefaultKeyDirectory();

  // Creates the key's directories (0700) as needed; true when the key exists afterwards.
  bool CreateKey() const;

  // Reads at most maxBytes; a longer value reports kTooLarge and no data.
  ReadResult ReadValue(std::string_view name, size_t maxBytes) const;

  // Replaces the value atomically (temporary file in the key's directory, then rename), so a crash
  // never leaves half a value. False when the key is missing or the write fails.
  bool WriteValue(std::string_view name, std::string_view data) const;

  const std::filesystem::path& KeyDirectory() const { return keyDirectory; }

 private:
  static bool IsPlainName(std::string_view name);

  std::filesystem::path keyDirectory;
};

}  // namespace rw::platform
