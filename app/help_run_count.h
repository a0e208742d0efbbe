// Help opens by itself on the first three runs: RunCount counts those runs in the settings.
// User-interface thread only.
#pragma once

namespace rw::app {

class SettingsStore;

// The number of runs on which help opens by itself.
inline constexpr int kHelpRuns = 3;

// Reads RunCount (a text without a leading number counts as 0). Below kHelpRuns it writes the
// count plus one and returns true: this run opens help. A RunCount that cannot be written stays
// low, so help then opens on every run.
bool CountHelpRun(SettingsStore& settings);

}  // namespace rw::app
