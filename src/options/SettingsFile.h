#pragma once
// The settings file: the options of the Options window and `serverName`, one `key = value` a line,
// `#` comments, the options' own names as keys. A bad line is reported with its file and line
// number and leaves its option at the default; the others still load, so one typing mistake in
// /etc/vantor/vantor.conf never turns a white-list server back into a black-list one unseen.
//
// Adding an option is one row of settingKeys() (SettingsFile.cpp).

#include "monitor/MonitorSettings.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct SettingKey {
    const char* name;
    // Puts a value text into the settings; the problem text when the value is refused (the
    // settings are then left alone).
    std::function<std::optional<std::string>(MonitorSettings&, std::string_view value)> read;
    std::function<std::string(const MonitorSettings&)> write;
};

// Every key in the order the file lists them.
const std::vector<SettingKey>& settingKeys();

struct SettingsProblem {
    int line = 0;  // 1-based
    std::string text;
};

// Reads the file's text over `settings` (which hold the defaults): every good line is applied,
// every bad one is returned and changes nothing.
std::vector<SettingsProblem> parseSettings(std::string_view text, MonitorSettings& settings);

// The whole file for `settings`, a comment line at its top.
std::string formatSettings(const MonitorSettings& settings);

// "FILE:LINE: TEXT", the form editors and compilers use, so a message can be jumped to.
std::string describeProblem(const std::filesystem::path& file, const SettingsProblem& problem);

struct SettingsLoad {
    bool found = false;  // false: no file, the defaults hold
    std::optional<std::string> error;  // the file is there but could not be read
    std::vector<std::string> messages;  // one per bad line, already described
};

// Loads `file` over `settings`. A missing file is no error: the program has never been set up.
SettingsLoad loadSettingsFile(const std::filesystem::path& file, MonitorSettings& settings);

// Writes the settings, atomically; the error text when the file could not be written.
std::optional<std::string> saveSettingsFile(const std::filesystem::path& file, const MonitorSettings& settings);

// Where the standalone program keeps its settings: $XDG_CONFIG_HOME/vantor/vantor.conf (or
// ~/.config/vantor/vantor.conf); beside the executable on Windows.
std::filesystem::path defaultSettingsFile();

}  // namespace vantor
