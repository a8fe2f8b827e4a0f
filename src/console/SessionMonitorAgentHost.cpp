#include "console/SessionMonitorAgentHost.h"

#include "history/HistoryReport.h"
#include "monitor/SessionMonitor.h"

namespace vantor {

SessionMonitorAgentHost::SessionMonitorAgentHost(SessionMonitor& monitor, GuiPoster postToGui)
    : m_monitor(monitor)
    , m_postToGui(std::move(postToGui))
{
}

SessionsSnapshotPtr SessionMonitorAgentHost::snapshot()
{
    return m_monitor.snapshot();
}

void SessionMonitorAgentHost::closeSessionByName(const std::string& user, const std::string& computer)
{
    if (m_monitor.closeSessionByName(user, computer).ok() && m_closed)
        m_closed(1);
}

void SessionMonitorAgentHost::closeAllSessions()
{
    const std::size_t closed = m_monitor.closeAllSessions();
    if (closed > 0 && m_closed)
        m_closed(closed);
}

void SessionMonitorAgentHost::useHistoryReport(std::filesystem::path dataDir, const Clock& clock)
{
    m_historyDir = std::move(dataDir);
    m_clock = &clock;
}

std::filesystem::path SessionMonitorAgentHost::generateReport()
{
    if (m_generateReport)
        return m_generateReport();
    if (!m_clock)
        return {};
    const std::string reportPath = m_monitor.settings.reportPath.get();
    std::string why;
    const bool made = loadAndGenerateReport(m_historyDir, reportPath, m_clock->now(), &why);
    bool tell = false;
    {
        std::lock_guard lock(m_reportErrorMutex);
        if (made) {
            m_lastReportError.clear();
        } else if (why != m_lastReportError) {
            m_lastReportError = why;
            tell = true;
        }
    }
    if (tell) {
        showBox({"Error", "The web-based report asked for by a console could not be written. " + why, BoxIcon::Error,
                 BoxButtons::Ok});
    }
    return reportFilePath(m_historyDir, reportPath);
}

void SessionMonitorAgentHost::deleteLogs()
{
    if (m_deleteLogs)
        m_deleteLogs();
}

std::string SessionMonitorAgentHost::hostName()
{
    return localHostName();
}

void SessionMonitorAgentHost::showBox(const BoxRequest& request)
{
    auto show = [this, request] { m_monitor.boxes().show(request); };
    if (m_postToGui)
        m_postToGui(std::move(show));
    else
        show();
}

}  // namespace vantor
