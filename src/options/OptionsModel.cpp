#include "options/OptionsModel.h"

#include "monitor/SessionMonitor.h"

namespace vantor {

OptionsValue optionsFromSettings(const MonitorSettings& s)
{
    return OptionsValue{s};
}

bool isReportLimitSeparator(int32_t index)
{
    return index == 3 || index == 7;
}

bool isReportLimitChoice(int32_t index)
{
    return index >= 0 && index < static_cast<int32_t>(reportLimitChoices.size()) && !isReportLimitSeparator(index);
}

std::optional<std::string> firstFailingCheck(const OptionsValue& value)
{
    const MonitorSettings& v = value.settings;
    const std::string reportPath = v.reportPath.get();
    if (isReportLimitSeparator(v.reportLimitIndex))
        return optionsText::wrongReportLimit;
    if (reportPath.empty())
        return optionsText::noReportName;
    if (reportPath.find(".htm") == std::string::npos)
        return optionsText::reportNotHtml;
    if (v.dailyReportTime.size() < 3 || v.dailyReportTime[2] != ':')
        return optionsText::wrongTime;
    return std::nullopt;
}

bool acceptOptions(const OptionsValue& values, bool launchOnStartup, const OptionsAcceptContext& ctx)
{
    SessionMonitor& monitor = ctx.monitor;
    // Before any check: the list files hold the pages' rows even when a check keeps the window
    // open. A file that cannot be written keeps its old contents, silently.
    ctx.whiteRows.save(monitor.listFilePath(ListKind::White));
    ctx.blackRows.save(monitor.listFilePath(ListKind::Black));

    if (!values.settings.useBlackList && ctx.whiteRows.empty())
        monitor.boxes().show({"Warning", optionsText::whiteListEmpty, BoxIcon::Warning, BoxButtons::Ok, ctx.owner});

    if (auto failure = firstFailingCheck(values)) {
        monitor.boxes().show({"Error", *failure, BoxIcon::Error, BoxButtons::Ok, ctx.owner});
        return false;
    }

    if (launchOnStartup) {
        NetStatus status = ctx.autostart.enable(ctx.executablePath);
        if (!status.ok())
            monitor.showSystemError(status, ctx.owner);
    } else {
        // Removing an entry that is not there, or cannot be removed, is not worth a message.
        ctx.autostart.disable();
    }
    return true;
}

}  // namespace vantor
