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

    // The lists were written first; this puts what the user edited in force.
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

OptionsValue optionsOf(const SessionMonitor& monitor)
{
    OptionsValue value = optionsFromSettings(monitor.settings);
    value.whiteList.readFile(monitor.listFilePath(ListKind::White));
    value.blackList.readFile(monitor.listFilePath(ListKind::Black));
    return value;
}

bool storeOptions(SessionMonitor& monitor, const OptionsResult& result, const TrimLogsFn& trimLogs,
                  const SaveSettingsFn& saveSettings)
{
    if (result.closed == OptionsClosed::Cancelled)
        return false;
    result.value.whiteList.save(monitor.listFilePath(ListKind::White));
    result.value.blackList.save(monitor.listFilePath(ListKind::Black));
    if (result.closed != OptionsClosed::Accepted)
        return false;
    applyAcceptedOptions(monitor, result.value, trimLogs);
    if (saveSettings)
        saveSettings();
    return true;
}

}  // namespace vantor
