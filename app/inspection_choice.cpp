#include "app/inspection_choice.h"

#include "app/settings_schema.h"
#include "text/text_steps.h"

namespace rw::app {
namespace {

// A stored text value, trimmed; a key that cannot be opened ("\n") reads as empty.
std::string StoredText(const SettingsStore& settings, const Setting& setting) {
  return text::Trim(settings.ReadSetting(setting.name));
}

}  // namespace

InspectionChoice ChooseInspection(const CommandLine& options, const SettingsStore& settings,
                                  const std::filesystem::path& settingsDirectory) {
  InspectionChoice choice;
  choice.on = options.inspectHttps || FlagIsOn(StoredText(settings, setting::kInspectHttps));
  choice.request.caDirectory = settingsDirectory / "ca";
  choice.request.upstreamCaFile =
      options.upstreamCaFile.value_or(StoredText(settings, setting::kUpstreamCaFile));
  choice.request.noInspectHosts =
      options.noInspectHosts.value_or(StoredText(settings, setting::kNoInspectHosts));
  return choice;
}

}  // namespace rw::app
