// libFuzzer entry point for the settings file's parser: any bytes load without harm, and what the
// loaded settings write back loads again, cleanly, to the same settings. Also built into a replay
// test that runs the corpus in the ordinary test run.
#include "options/SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vantor::MonitorSettings settings;
    vantor::parseSettings(std::string_view(reinterpret_cast<const char*>(data), size), settings);
    const std::string written = vantor::formatSettings(settings);
    vantor::MonitorSettings again;
    if (!vantor::parseSettings(written, again).empty() || vantor::formatSettings(again) != written)
        std::abort();
    return 0;
}
