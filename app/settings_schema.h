// The settings values: each one's stored name, its default and how its text is normalised before
// it takes effect. The settings store, the form's Defaults, Load, Apply and Save, and the engine's
// initial settings all take them from here. Constant data and pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "proxy/proxy_settings.h"

namespace rw::app {

enum class SettingRule {
  kText,     // trimmed when applied
  kNumber,   // a number field: trimmed, its leading integer written back, empty for 0
  kLimit,    // a number field whose value in force is LimitInForce of it
  kFlag,     // "1" is on, any other text off
  kAsTyped,  // taken exactly as typed
};

struct Setting {
  std::string_view name;
  // What Defaults puts into the field and what an empty stored value loads as. LogDir's default
  // is the current directory, known only when the program runs, so it has none here.
  std::string_view defaultText;
  SettingRule rule;
  // Whether ReadSetting itself gives the default for a missing or empty value; for every other
  // value the default belongs to the reader.
  bool readGivesDefault;
};

namespace setting {
inline constexpr Setting kHttpAddress{"HttpAddress", "127.0.0.1", SettingRule::kText, true};
inline constexpr Setting kHttpPort{"HttpPort", "8010", SettingRule::kNumber, true};
inline constexpr Setting kHttpProxyAddress{"HttpProxyAddress", "", SettingRule::kText, false};
inline constexpr Setting kHttpProxyPort{"HttpProxyPort", "", SettingRule::kNumber, false};
inline constexpr Setting kAutoLog{"AutoLog", "0", SettingRule::kFlag, false};
inline constexpr Setting kLogDir{"LogDir", "", SettingRule::kAsTyped, false};
inline constexpr Setting kMaxMB{"MaxMB", "8", SettingRule::kLimit, false};
inline constexpr Setting kRunCount{"RunCount", "0", SettingRule::kNumber, false};
// HTTPS inspection: off unless "1"; extra PEM certificates for verifying servers; the hosts left
// as plain tunnels (comma-separated names or *.domain patterns).
inline constexpr Setting kInspectHttps{"InspectHttps", "0", SettingRule::kFlag, false};
inline constexpr Setting kUpstreamCaFile{"UpstreamCaFile", "", SettingRule::kText, false};
inline constexpr Setting kNoInspectHosts{"NoInspectHosts", "", SettingRule::kText, false};

// The Settings page's seven values, in the order they are read and saved.
inline constexpr std::array<const Setting*, 7> kPageSettings = {
    &kHttpAddress, &kHttpPort, &kHttpProxyAddress, &kHttpProxyPort, &kAutoLog, &kLogDir, &kMaxMB,
};

// The values HTTPS inspection reads at start.
inline constexpr std::array<const Setting*, 3> kInspectionSettings = {
    &kInspectHttps, &kUpstreamCaFile, &kNoInspectHosts};
}  // namespace setting

// The lowest retention limit in force, in MB.
inline constexpr int32_t kMinimumMaxMB = 4;

// The description of the value called `name`, or nullptr for a name that is not a setting.
const Setting* FindSetting(std::string_view name);

// A number field: trims the text, takes its leading integer (0 when none), writes back its
// decimal text, or the empty text for 0, and returns the value.
int32_t NumberField(std::string& text);

// The retention limit in force for a typed value: 0 gives the default, anything below
// kMinimumMaxMB gives kMinimumMaxMB.
int32_t LimitInForce(int32_t typed);

bool FlagIsOn(std::string_view text);
std::string FlagText(bool on);

// The engine's settings before any have been applied: the defaults above.
proxy::ProxySettings DefaultProxySettings();

}  // namespace rw::app
