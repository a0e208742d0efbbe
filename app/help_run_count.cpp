#include "app/help_run_count.h"

#include <string>

#include "app/settings_schema.h"
#include "app/settings_store.h"
#include "text/number_parsers.h"

namespace rw::app {

bool CountHelpRun(SettingsStore& settings) {
  const int32_t runs = text::LeadingInteger(settings.ReadSetting(setting::kRunCount.name));
  if (runs >= kHelpRuns) {
    return false;
  }
  settings.WriteSetting(setting::kRunCount.name, std::to_string(runs + 1));
  return true;
}

}  // namespace rw::app
