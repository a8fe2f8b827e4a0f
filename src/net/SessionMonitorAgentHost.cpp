#include "net/SessionMonitorAgentHost.h"

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
    m_monitor.closeSessionByName(user, computer);
}

void SessionMonitorAgentHost::closeAllSessions()
{
    m_monitor.closeAllSessions();
}

std::filesystem::path SessionMonitorAgentHost::generateReport()
{
    return m_generateReport ? m_generateReport() : std::filesystem::path{};
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
