#include "options/SettingsFile.h"

#include "base/AccessList.h"
#include "base/ConsoleAllowList.h"
#include "base/ListenAddress.h"
#include "base/MailText.h"
#include "options/OptionsModel.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace vantor {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<int32_t> parseInt(std::string_view s)
{
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

std::string quoted(std::string_view s)
{
    return "\"" + cleanMailText(s) + "\"";
}

// A flag holds 0 or 1 and nothing else: "yes" or "2" is a mistake to report, not a truth value to guess.
SettingKey flagKey(const char* name, int32_t MonitorSettings::*field)
{
    return {name,
            [name, field](MonitorSettings& s, std::string_view v) -> std::optional<std::string> {
                const auto n = parseInt(v);
                if (!n || (*n != 0 && *n != 1))
                    return std::string(name) + " must be 0 or 1, not " + quoted(v);
                s.*field = *n;
                return std::nullopt;
            },
            [field](const MonitorSettings& s) { return std::to_string(s.*field); }};
}

std::string textOf(const std::string& value)
{
    return value;
}

std::string textOf(const SharedText& value)
{
    return value.get();
}

// A text option, plain or shared with the agent's threads. `check` returns the problem with a
// value, or nothing when it is acceptable.
template <class Text>
SettingKey textKey(const char* name, Text MonitorSettings::*field,
                   std::function<std::optional<std::string>(std::string_view)> check = {})
{
    return {name,
            [field, check](MonitorSettings& s, std::string_view v) -> std::optional<std::string> {
                if (check)
                    if (auto problem = check(v))
                        return problem;
                s.*field = std::string(v);
                return std::nullopt;
            },
            [field](const MonitorSettings& s) { return textOf(s.*field); }};
}

// A whole number, checked by `check` (the problem, or nothing when it is acceptable).
SettingKey intKey(const char* name, int32_t MonitorSettings::*field,
                  std::function<std::optional<std::string>(int32_t)> check)
{
    return {name,
            [name, field, check](MonitorSettings& s, std::string_view v) -> std::optional<std::string> {
                const auto n = parseInt(v);
                if (!n)
                    return std::string(name) + " must be a number, not " + quoted(v);
                if (auto problem = check(*n))
                    return problem;
                s.*field = *n;
                return std::nullopt;
            },
            [field](const MonitorSettings& s) { return std::to_string(s.*field); }};
}

// The file takes what the Options window accepts, and no more: a file it wrote always loads back.
std::optional<std::string> checkReportLimitIndex(int32_t index)
{
    if (index == -1 || isReportLimitChoice(index))
        return std::nullopt;
    return std::string("reportLimitIndex must be -1 or a choice from 0 to 9 other than 3 and 7");
}

SettingKey securityKey()
{
    return {"smtpSecurity",
            [](MonitorSettings& s, std::string_view v) -> std::optional<std::string> {
                const auto security = parseSmtpSecurity(v);
                if (!security)
                    return "smtpSecurity must be none, starttls or tls, not " + quoted(v);
                s.smtpSecurity = *security;
                return std::nullopt;
            },
            [](const MonitorSettings& s) { return std::string(smtpSecurityName(s.smtpSecurity)); }};
}

std::optional<std::string> checkPort(int32_t port)
{
    if (port >= 1 && port <= 65535)
        return std::nullopt;
    return "smtpPort must be from 1 to 65535, not " + std::to_string(port);
}

std::optional<std::string> checkHistoryDays(int32_t days)
{
    if (days >= 0 && days <= maxHistoryDays)
        return std::nullopt;
    return "historyDays must be from 0 (keep everything) to " + std::to_string(maxHistoryDays) + ", not "
           + std::to_string(days);
}

std::optional<std::string> checkTime(std::string_view v)
{
    if (v.size() < 3 || v[2] != ':')
        return "dailyReportTime must be hh:mm, not " + quoted(v);
    return std::nullopt;
}

std::optional<std::string> checkReportPath(std::string_view v)
{
    if (v.empty() || v.find(".htm") == std::string_view::npos)
        return "reportPath must name an .htm or .html file, not " + quoted(v);
    return std::nullopt;
}

std::optional<std::string> checkMetricsListen(std::string_view v)
{
    if (v.empty() || parseListenAddress(v))
        return std::nullopt;
    return "metricsListen must be empty or ADDRESS:PORT with a numeric address (127.0.0.1:36874, [::1]:36874), not "
           + quoted(v);
}

std::optional<std::string> checkConsoleListen(std::string_view v)
{
    if (v.empty() || parseIpv4Address(v))
        return std::nullopt;
    return "consoleListen must be empty or a numeric IPv4 address (192.168.1.10, 127.0.0.1), not " + quoted(v);
}

std::optional<std::string> checkConsoleAllow(std::string_view v)
{
    if (auto error = parseConsoleAllowList(v).error)
        return "consoleAllow: " + *error;
    return std::nullopt;
}

}  // namespace

const std::vector<SettingKey>& settingKeys()
{
    static const std::vector<SettingKey> keys = {
        textKey("serverName", &MonitorSettings::serverName),
        flagKey("hideLocalUsers", &MonitorSettings::hideLocalUsers),
        flagKey("hideSystemRequests", &MonitorSettings::hideSystemRequests),
        flagKey("popupOnNewUser", &MonitorSettings::popupOnNewUser),
        flagKey("beepOnNewUser", &MonitorSettings::beepOnNewUser),
        flagKey("noHistory", &MonitorSettings::noHistory),
        flagKey("mailOnNewUser", &MonitorSettings::mailOnNewUser),
        flagKey("dailyReport", &MonitorSettings::dailyReport),
        flagKey("reportAutoUpdate", &MonitorSettings::reportAutoUpdate),
        flagKey("reportLimit", &MonitorSettings::reportLimit),
        flagKey("logOpenedFiles", &MonitorSettings::logOpenedFiles),
        flagKey("useBlackList", &MonitorSettings::useBlackList),
        intKey("reportLimitIndex", &MonitorSettings::reportLimitIndex, checkReportLimitIndex),
        textKey("mailAddress", &MonitorSettings::mailAddress),
        textKey("smtpServer", &MonitorSettings::smtpServer),
        intKey("smtpPort", &MonitorSettings::smtpPort, checkPort),
        securityKey(),
        textKey("smtpUser", &MonitorSettings::smtpUser),
        textKey("smtpPasswordFile", &MonitorSettings::smtpPasswordFile),
        textKey("smtpCertFingerprint", &MonitorSettings::smtpCertFingerprint),
        textKey("dailyReportTime", &MonitorSettings::dailyReportTime, checkTime),
        textKey("reportPath", &MonitorSettings::reportPath, checkReportPath),
        textKey("metricsListen", &MonitorSettings::metricsListen, checkMetricsListen),
        flagKey("metricsPerSession", &MonitorSettings::metricsPerSession),
        textKey("consoleListen", &MonitorSettings::consoleListen, checkConsoleListen),
        textKey("consoleAllow", &MonitorSettings::consoleAllow, checkConsoleAllow),
        textKey("remoteServers", &MonitorSettings::remoteServers),
        intKey("historyDays", &MonitorSettings::historyDays, checkHistoryDays),
    };
    return keys;
}

const SettingKey* findSettingKey(std::string_view name)
{
    for (const SettingKey& key : settingKeys())
        if (name == key.name)
            return &key;
    return nullptr;
}

std::vector<SettingsProblem> parseSettings(std::string_view text, MonitorSettings& settings)
{
    std::vector<SettingsProblem> problems;
    std::set<std::string, std::less<>> seen;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        const std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);

        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            problems.push_back({lineNo, "expected \"key = value\", found " + quoted(line)});
            continue;
        }
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        const SettingKey* entry = nullptr;
        for (const auto& k : settingKeys())
            if (key == k.name)
                entry = &k;
        if (!entry) {
            problems.push_back({lineNo, "unknown option " + quoted(key)});
            continue;
        }
        if (seen.count(key)) {
            problems.push_back({lineNo, std::string(entry->name) + " is set again; the first line holds"});
            continue;
        }
        seen.emplace(key);
        if (auto problem = entry->read(settings, value))
            problems.push_back({lineNo, *problem + "; the default holds"});
    }
    return problems;
}

std::string formatSettings(const MonitorSettings& settings)
{
    std::string out = "# Vantor settings, written by Vantor when its Options are accepted.\n";
    for (const auto& k : settingKeys()) {
        // A line break inside a value would start a line of its own: a crafted server name could
        // otherwise switch the list mode.
        out += k.name;
        out += " = ";
        out += cleanMailText(k.write(settings));
        out += '\n';
    }
    return out;
}

namespace {

// The key of a "key = value" line, or empty for comments, blanks and lines without "=".
std::string_view lineKey(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() == '#')
        return {};
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : trim(line.substr(0, eq));
}

}  // namespace

std::string updateSettingsText(std::string_view text, const MonitorSettings& settings)
{
    MonitorSettings inFile;
    parseSettings(text, inFile);
    std::set<std::string, std::less<>> changed;
    for (const auto& k : settingKeys())
        if (k.write(inFile) != k.write(settings))
            changed.emplace(k.name);

    auto newLine = [&settings](const SettingKey& k) {
        return std::string(k.name) + " = " + cleanMailText(k.write(settings));
    };
    std::string out;
    std::set<std::string, std::less<>> written;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        const bool ended = nl != std::string_view::npos;
        text = ended ? text.substr(nl + 1) : std::string_view{};
        const std::string_view key = lineKey(line);
        if (!key.empty() && changed.count(key) && !written.count(key)) {
            for (const auto& k : settingKeys())
                if (key == k.name)
                    out += newLine(k) + (line.size() > 0 && line.back() == '\r' ? "\r" : "");
            written.emplace(key);
        } else {
            out += line;
        }
        // A last line without its line end gets one only when more follows.
        if (ended)
            out += '\n';
    }
    for (const auto& k : settingKeys()) {
        if (!changed.count(k.name) || written.count(k.name))
            continue;
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += newLine(k) + '\n';
    }
    return out;
}

bool remoteServerListed(std::string_view remoteServers, std::string_view server)
{
    auto bare = [](std::string_view name) {
        name = trim(name);
        while (!name.empty() && name.front() == '\\')
            name.remove_prefix(1);
        return lowerAscii(std::string(name));
    };
    const std::string wanted = bare(server);
    if (wanted.empty())
        return true;
    while (!remoteServers.empty()) {
        const std::size_t comma = remoteServers.find(',');
        if (bare(remoteServers.substr(0, comma)) == wanted)
            return true;
        remoteServers = comma == std::string_view::npos ? std::string_view{} : remoteServers.substr(comma + 1);
    }
    return false;
}

std::string describeProblem(const std::filesystem::path& file, const SettingsProblem& problem)
{
    return file.string() + ":" + std::to_string(problem.line) + ": " + problem.text;
}

SettingsLoad loadSettingsFile(const std::filesystem::path& file, MonitorSettings& settings)
{
    SettingsLoad result;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return result;
    result.found = true;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file reads nothing and is no error.
        if (std::filesystem::file_size(file, ec) != 0 || ec) {
            result.error = file.string() + ": cannot be read; the defaults hold";
            return result;
        }
    }
    for (const auto& p : parseSettings(text.str(), settings))
        result.messages.push_back(describeProblem(file, p));
    return result;
}

std::optional<std::string> saveSettingsFile(const std::filesystem::path& file, const MonitorSettings& settings)
{
    if (file.has_parent_path() && !ensureDirectory(file.parent_path()))
        return file.parent_path().string() + ": the folder cannot be made";
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return writeFileAtomically(file, formatSettings(settings));
    std::ostringstream text;
    {
        // Closed before the replacement: Windows does not replace a file that is still open.
        std::ifstream in(file, std::ios::binary);
        if (!in || (!(text << in.rdbuf()) && std::filesystem::file_size(file, ec) != 0))
            // Written whole instead, the administrator's comments would be gone unseen.
            return file.string() + ": cannot be read, so the options were not written into it";
    }
    return writeFileAtomically(file, updateSettingsText(text.str(), settings));
}

std::filesystem::path defaultSettingsFile()
{
#ifdef _WIN32
    return defaultDataDirectory() / "vantor.conf";
#else
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "vantor" / "vantor.conf";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/") / ".config" / "vantor" / "vantor.conf";
#endif
}

std::string settingsProblemsText(const std::vector<std::string>& problems)
{
    std::string text = "Some settings could not be read and keep their defaults:";
    for (const auto& problem : problems)
        text += "\n" + problem;
    return text;
}

}  // namespace vantor
