// Whether this run inspects HTTPS and with what: the stored InspectHttps, UpstreamCaFile and
// NoInspectHosts, each replaced by its command-line option when given. Main thread.
#pragma once

#include <filesystem>
#include <string>

#include "app/command_line.h"
#include "app/settings_store.h"
#include "tls/inspection_settings.h"

namespace rw::app {

struct InspectionChoice {
  bool on = false;
  tls::InspectionRequest request;
};

// The certificate authority lives in `settingsDirectory`/ca.
InspectionChoice ChooseInspection(const CommandLine& options, const SettingsStore& settings,
                                  const std::filesystem::path& settingsDirectory);

}  // namespace rw::app
