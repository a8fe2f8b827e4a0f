#include "options/OptionsCommand.h"

#include "monitor/SessionMonitor.h"

namespace vantor {

void applyAcceptedOptions(SessionMonitor& monitor, const OptionsValue& value, const TrimLogsFn& trimLogs)
{
    const MonitorSettings& v = value.settings;
    MonitorSettings& s = monitor.settings;
    s.hideLocalUsers = v.hideLocalUsers;
    s.hideSystemRequests = v.hideSystemRequests;
    s.noHistory = v.noHistory;
    s.beepOnNewUser = v.beepOnNewUser;
    s.popupOnNewUser = v.popupOnNewUser;
    s.dailyReport = v.dailyReport;
    s.mailOnNewUser = v.mailOnNewUser;

    // The list pages wrote the files on OK; this puts what the user edited in force.
    monitor.loadAccessLists();

    s.reportLimitIndex = v.reportLimitIndex;
    s.reportLimit = v.reportLimit;
    s.reportAutoUpdate = v.reportAutoUpdate;
    s.reportPath = v.reportPath;

    // A typed text that is no choice leaves no selection (-1), which OK lets through; there is no
    // limit to trim to then, and the trimmer's table must not be read outside its rows.
    if (s.reportLimit == 1 && isReportLimitChoice(s.reportLimitIndex) && trimLogs)
        trimLogs(s.reportLimitIndex);

    s.logOpenedFiles = v.logOpenedFiles;
    s.useBlackList = v.useBlackList;

    s.mailAddress = v.mailAddress;
    s.smtpServer = v.smtpServer;
    s.dailyReportTime = v.dailyReportTime;
    s.smtpPort = v.smtpPort;
    s.smtpSecurity = v.smtpSecurity;
    s.smtpUser = v.smtpUser;
    s.smtpPasswordFile = v.smtpPasswordFile;
    s.smtpCertFingerprint = v.smtpCertFingerprint;
}

bool runOptionsCommand(SessionMonitor& monitor, const OptionsRunner& runWindow, const TrimLogsFn& trimLogs,
                       const SaveSettingsFn& saveSettings)
{
    OptionsValue values = optionsFromSettings(monitor.settings);
    if (!runWindow(values))
        return false;
    applyAcceptedOptions(monitor, values, trimLogs);
    if (saveSettings)
        saveSettings();
    return true;
}

}  // namespace vantor
