// The program's command-line options. Overrides apply to one run only and are never saved.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rw::app {

class SettingsForm;

class CommandLine {
 public:
  enum class ParseResult { kRun, kHelp, kVersion, kError };

  ParseResult Parse(const std::vector<std::string>& args);

  // Overlays the overrides on the form's texts.
  void ApplyOverrides(SettingsForm& form) const;
  bool HasOverrides() const;
  // Options that only the headless mode acts on: the overrides, --har and --quiet.
  bool HasHeadlessOnlyOptions() const;

  static std::string Usage(const std::string& program);

  bool headless = false;
  std::optional<std::string> port;
  std::optional<std::string> proxyHost;
  std::optional<std::string> proxyPort;
  std::optional<std::string> logDir;
  std::optional<std::string> maxMB;
  bool autoLog = false;
  std::optional<std::string> harFile;  // --har FILE: not a setting, so never saved
  bool quiet = false;                  // -q, --quiet: no line per exchange
  // HTTPS inspection for this run: --inspect-https turns it on, --upstream-ca and --no-inspect
  // replace the stored UpstreamCaFile and NoInspectHosts. Never saved.
  bool inspectHttps = false;
  std::optional<std::string> upstreamCaFile;
  std::optional<std::string> noInspectHosts;
  bool openBrowser = false;  // --open-browser: start a browser through the proxy once listening
  std::string error;         // set with kError
};

}  // namespace rw::app
