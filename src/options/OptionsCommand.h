#pragma once
// The Options command on a monitor of this process: the settings and the list files go into the
// Options window's copy, and what the window hands back comes back in a fixed order, with the
// access lists reloaded and the logs trimmed in between. No window here, so this runs without a
// screen.

#include "options/OptionsModel.h"

#include <cstdint>
#include <functional>

namespace vantor {

class SessionMonitor;

// Trims both history logs to the limit of a report-limit choice.
using TrimLogsFn = std::function<void(int32_t reportLimitIndex)>;

// Copies an accepted window back into the monitor's settings, reloading the lists and trimming the
// logs at their places in the order. Nothing else happens: no poll, no refiltering.
void applyAcceptedOptions(SessionMonitor& monitor, const OptionsValue& values, const TrimLogsFn& trimLogs);

// Keeps the settings in force for the next start.
using SaveSettingsFn = std::function<void()>;

// The monitor's settings and both list files, as the Options window shows them.
OptionsValue optionsOf(const SessionMonitor& monitor);

// What the window handed back: wlist.dat then blist.dat written (also when only the lists were
// accepted; a file that cannot be written keeps its old contents, silently), then, when all was
// accepted, the settings applied and then saved. True when all was accepted.
bool storeOptions(SessionMonitor& monitor, const OptionsResult& result, const TrimLogsFn& trimLogs,
                  const SaveSettingsFn& saveSettings = {});

}  // namespace vantor
