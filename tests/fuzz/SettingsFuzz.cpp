// libFuzzer entry point for the settings file's parser: any bytes load without harm, and what the
// loaded settings write back loads again, cleanly, to the same settings; saved into the bytes as
// they stand, settings that did not change leave every byte alone, and others load back as saved.
// The console list reads any bytes without harm. Also built into a replay test that runs the
// corpus in the ordinary test run.
#include "base/ConsoleAllowList.h"
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

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (vantor::updateSettingsText(text, settings) != text)
        std::abort();
    const vantor::MonitorSettings defaults;
    vantor::MonitorSettings saved;
    vantor::parseSettings(vantor::updateSettingsText(text, defaults), saved);
    if (vantor::formatSettings(saved) != vantor::formatSettings(defaults))
        std::abort();

    const vantor::ConsoleAllowList list = vantor::parseConsoleAllowList(text);
    for (const vantor::Ipv4Network& n : list.networks)
        if (n.prefix < 0 || n.prefix > 32 || (n.prefix < 32 && (n.address & (~uint32_t{0} >> n.prefix)) != 0))
            std::abort();
    return 0;
}
