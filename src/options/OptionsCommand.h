#pragma once
// The Options command: the settings go into the Options window's copy, the window runs, and on OK
// the edited copy comes back in a fixed order, with the access lists reloaded and the logs trimmed
// in between. The window itself is passed in as a runner, so this runs without a screen.

#include "options/OptionsModel.h"

#include <cstdint>
#include <functional>

namespace vantor {

class SessionMonitor;

// Trims both history logs to the limit of a report-limit choice.
using TrimLogsFn = std::function<void(int32_t reportLimitIndex)>;

// Runs the Options window modally over `values`; true when it closed with OK (the values then
// hold what the user accepted).
using OptionsRunner = std::function<bool(OptionsValue& values)>;

// Copies an accepted window back into the monitor's settings, reloading the lists and trimming the
// logs at their places in the order. Nothing else happens: no poll, no refiltering.
void applyAcceptedOptions(SessionMonitor& monitor, const OptionsValue& values, const TrimLogsFn& trimLogs);

// Keeps the settings in force for the next start.
using SaveSettingsFn = std::function<void()>;

// The whole command: on OK, the settings are applied and then saved. Returns true when the window
// was accepted.
bool runOptionsCommand(SessionMonitor& monitor, const OptionsRunner& runWindow, const TrimLogsFn& trimLogs,
                       const SaveSettingsFn& saveSettings = {});

}  // namespace vantor
