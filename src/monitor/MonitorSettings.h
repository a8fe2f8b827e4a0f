#pragma once
// The monitor's options, with their defaults. The settings file (options/SettingsFile.h) keeps them
// from one start to the next. Flags are 32-bit integers holding 0 or 1.

#include "monitor/SharedText.h"
#include "monitor/MailRelay.h"

#include <cstdint>
#include <string>

namespace vantor {

struct MonitorSettings {
    SharedText serverName;  // monitored server; empty = this computer
    int32_t hideLocalUsers = 0;  // hide sessions from this computer (isLocalComputer)
    int32_t hideSystemRequests = 0;  // hide sessions with an empty user name
    int32_t popupOnNewUser = 0;
    int32_t beepOnNewUser = 0;
    int32_t noHistory = 0;  // while 1, nothing is added to the history logs
    int32_t mailOnNewUser = 0;  // a new user sends a notification mail
    int32_t dailyReport = 0;
    int32_t reportAutoUpdate = 0;
    int32_t reportLimit = 0;  // accepting Options with this set trims the logs
    int32_t logOpenedFiles = 1;  // while 0, no file lines are logged
    int32_t useBlackList = 1;  // 1: black list in force; 0: white list in force
    int32_t reportLimitIndex = 0;  // index into the report-limit choices; 3 and 7 are separators
    std::string mailAddress = "admin@example.com";
    std::string smtpServer = "mail.example.com";
    std::string dailyReportTime = "23:59";
    SharedText reportPath = "report.html";
    // How smtpServer is reached; the defaults give the classic plain dialogue to port 25.
    int32_t smtpPort = 25;
    SmtpSecurity smtpSecurity = SmtpSecurity::None;
    std::string smtpUser;  // empty: no logon
    std::string smtpPasswordFile;  // the password itself is never held in the settings
    std::string smtpCertFingerprint;  // SHA-256 of a self-signed certificate to accept
    // The service's /metrics for Prometheus: "ADDRESS:PORT", empty = not served. Per-session
    // series only while metricsPerSession is 1 (their number grows with the sessions).
    std::string metricsListen;
    int32_t metricsPerSession = 0;
    // The console agent: the one IPv4 address it listens on and the consoles it serves
    // ("ADDRESS[/PREFIX], ..."). The window's agent listens on every address and serves every
    // console while they are empty; the service's is off until consoleListen is set, and serves
    // only the consoles consoleAllow names.
    std::string consoleListen;
    std::string consoleAllow;
    // The servers other than this computer whose sessions may be watched, by name, separated by
    // commas: the srvsvc helper logs on to them with root's credentials, so the service goes to
    // no other one. Set in the settings file only.
    std::string remoteServers;
    // Days of history the logs keep (trimmed at start and once a day); 0: all of it.
    int32_t historyDays = 0;

    bool operator==(const MonitorSettings&) const = default;
};

inline constexpr int32_t maxHistoryDays = 36500;  // a hundred years

inline MailRelay mailRelay(const MonitorSettings& s)
{
    return {s.smtpServer, s.smtpPort, s.smtpSecurity, s.smtpUser, s.smtpPasswordFile, s.smtpCertFingerprint};
}

// A session from this computer: Samba names such a client "127.0.0.1" over IPv4 and "::1" over
// IPv6. Exact texts only: a name that merely begins with them is another computer.
inline bool isLocalComputer(const std::string& computer)
{
    return computer == "127.0.0.1" || computer == "::1";
}

}  // namespace vantor
