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
// The key of that name; null when there is none.
const SettingKey* findSettingKey(std::string_view name);

struct SettingsProblem {
    int line = 0;  // 1-based
    std::string text;
};

// Reads the file's text over `settings` (which hold the defaults): every good line is applied,
// every bad one is returned and changes nothing.
std::vector<SettingsProblem> parseSettings(std::string_view text, MonitorSettings& settings);

// The whole file for `settings`, a comment line at its top.
std::string formatSettings(const MonitorSettings& settings);

// `text` (a settings file as it stands) with the values that `settings` changed, and nothing else:
// comments, blank lines, the order, unknown and bad lines stay as the administrator wrote them. An
// option is changed when what `text` loads differs from `settings`; its first line then gets the
// new value, or a line is added at the end when the text has none.
std::string updateSettingsText(std::string_view text, const MonitorSettings& settings);

// Whether `server` is one of the names of `remoteServers` ("fs1, fs2.corp.test"): letters in either
// case, leading backslashes of the UNC form ignored. The empty name (this computer) is always listed.
bool remoteServerListed(std::string_view remoteServers, std::string_view server);

// "FILE:LINE: TEXT", the form editors and compilers use, so a message can be jumped to.
std::string describeProblem(const std::filesystem::path& file, const SettingsProblem& problem);

struct SettingsLoad {
    bool found = false;  // false: no file, the defaults hold
    std::optional<std::string> error;  // the file is there but could not be read
    std::vector<std::string> messages;  // one per bad line, already described
};

// Loads `file` over `settings`. A missing file is no error: the program has never been set up.
SettingsLoad loadSettingsFile(const std::filesystem::path& file, MonitorSettings& settings);

// Writes the settings, atomically, into the file as it stands (updateSettingsText), or the whole
// file when there is none; the error text when the file could not be read or written.
std::optional<std::string> saveSettingsFile(const std::filesystem::path& file, const MonitorSettings& settings);

// Where the standalone program keeps its settings: $XDG_CONFIG_HOME/vantor/vantor.conf (or
// ~/.config/vantor/vantor.conf); beside the executable on Windows.
std::filesystem::path defaultSettingsFile();

// The warning a window shows at start when some settings could not be read: one line per problem.
std::string settingsProblemsText(const std::vector<std::string>& problems);

}  // namespace vantor
