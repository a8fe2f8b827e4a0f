#include "options/OptionsModel.h"

#include "monitor/Outcome.h"

namespace vantor {

OptionsValue optionsFromSettings(const MonitorSettings& s)
{
    return OptionsValue{s, {}, {}};
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
    if (!values.settings.useBlackList && values.whiteList.empty())
        ctx.boxes.show({"Warning", optionsText::whiteListEmpty, BoxIcon::Warning, BoxButtons::Ok, ctx.owner});

    if (auto failure = firstFailingCheck(values)) {
        ctx.boxes.show({"Error", *failure, BoxIcon::Error, BoxButtons::Ok, ctx.owner});
        return false;
    }

    if (launchOnStartup) {
        NetStatus status = ctx.autostart.enable(ctx.executablePath);
        if (!status.ok())
            Outcome::failed(status).showOn(ctx.boxes, ctx.owner);
    } else {
        // Removing an entry that is not there, or cannot be removed, is not worth a message.
        ctx.autostart.disable();
    }
    return true;
}

bool OptionsCloser::ok(const OptionsValue& edited, bool launchOnStartup, const OptionsAcceptContext& context)
{
    m_result.closed = OptionsClosed::ListsAccepted;
    m_result.value.whiteList = edited.whiteList;
    m_result.value.blackList = edited.blackList;
    if (!acceptOptions(edited, launchOnStartup, context))
        return false;
    m_result = {OptionsClosed::Accepted, edited};
    return true;
}

}  // namespace vantor
