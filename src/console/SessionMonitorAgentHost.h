#pragma once
// The console agent's view of the running monitor: the sessions from SessionMonitor's published
// snapshot, the closings through its thread-safe actions, boxes posted to the GUI thread. The
// history operations are given as functions (set them before the agent starts); without them the
// report is missing (size 0) and deleting the logs does nothing.

#include "console/ConsoleAgent.h"
#include "platform/Clock.h"

#include <functional>
#include <mutex>

namespace vantor {

class SessionMonitor;

class SessionMonitorAgentHost final : public ConsoleAgentHost {
public:
    using GuiPoster = std::function<void(std::function<void()>)>;

    // `postToGui` runs a function on the GUI thread; empty runs it at once (headless use).
    SessionMonitorAgentHost(SessionMonitor& monitor, GuiPoster postToGui);

    void setReportGenerator(std::function<std::filesystem::path()> generate) { m_generateReport = std::move(generate); }
    // The report made from the history logs in `dataDir`, at the settings' reportPath. When it
    // cannot be written the previous report stands and is what the console gets (size 0 when there
    // is none, which consoles take as "no report"); the user is told why in a box, once for each
    // new reason rather than once for every console's request.
    void useHistoryReport(std::filesystem::path dataDir, const Clock& clock);
    void setLogDeleter(std::function<void()> remove) { m_deleteLogs = std::move(remove); }
    // Told how many sessions a console's command closed (set before the agent starts).
    void setClosedCounter(std::function<void(std::size_t)> closed) { m_closed = std::move(closed); }

    SessionsSnapshotPtr snapshot() override;
    void closeSessionByName(const std::string& user, const std::string& computer) override;
    void closeAllSessions() override;
    std::filesystem::path generateReport() override;
    void deleteLogs() override;
    std::string hostName() override;
    void showBox(const BoxRequest& request) override;

private:
    SessionMonitor& m_monitor;
    GuiPoster m_postToGui;
    std::function<std::filesystem::path()> m_generateReport;
    std::function<void()> m_deleteLogs;
    std::function<void(std::size_t)> m_closed;
    std::filesystem::path m_historyDir;
    const Clock* m_clock = nullptr;
    // The agent's command threads make reports side by side: the last error is theirs together.
    std::mutex m_reportErrorMutex;
    std::string m_lastReportError;
};

}  // namespace vantor
