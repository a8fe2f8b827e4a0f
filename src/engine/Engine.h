#pragma once
// The engine: the monitor without windows. It owns the monitor's state (settings, sessions, lists),
// runs the poll timer, the access lists and their closes, the new-user event and its mail, the
// history recorder, the report's automatic update, the daily report mail and the console agent.
// The window program and the service both run it; their own parts (a window, a journal) only
// watch it and call it.
//
// One poll is two steps: the enumeration, on the worker (it waits on a tool or the network), and
// its application, on the loop's thread, in the monitor's order (closes, new-user event, table,
// open files of the selected row). Work after the poll that may wait (the report, the daily mail)
// goes to the worker too, one task after another.

#include "engine/EngineCounters.h"
#include "engine/EventLoop.h"
#include "engine/Worker.h"
#include "history/HistoryRecorder.h"
#include "monitor/SessionMonitor.h"
#include "console/ConsoleAgent.h"
#include "console/SessionMonitorAgentHost.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantor {

enum class LogLevel { Error, Warning, Notice, Info };

// How the polls stand, for a face that shows it.
struct PollState {
    std::string error;  // the last poll's failure; empty when it worked
    std::string route;  // empty: the service's usual listing; else the short name of the other one
};
using LogFn = std::function<void(LogLevel, const std::string&)>;

struct EngineOptions {
    std::chrono::milliseconds pollInterval{3000};
    // LoopThread: the enumerations on the loop's thread too (tests and the bench's comparison).
    enum class PollMode { Background, LoopThread } pollMode = PollMode::Background;
    // Loaded at start and on reload(), written when accepted options are saved; none: neither.
    std::optional<std::filesystem::path> settingsFile;
    // The history recorder (and with it the report's automatic update).
    bool history = true;
    // The service: the history's open sessions are kept in the data folder, and a stop leaves them
    // open for the next start to go on with (a restart is no news). Otherwise a stop ends them.
    bool keepSessions = false;
    // historyDays where the settings file does not say.
    int32_t historyDaysDefault = 0;
    // The console agent; tests give their own ports. Its address is consoleListen of the settings
    // unless agentConfig names one, and it serves the consoles of consoleAllow.
    bool consoleAgent = false;
    // The service's way: no agent while no address is set, and no console served that
    // consoleAllow does not name. Otherwise (the window) the agent listens on every address and
    // serves every console until the settings narrow it.
    bool consoleAgentOnlyWhenListed = false;
    ConsoleAgent::Config agentConfig;
    // Notifications (on the loop's thread) and the daily report (on the worker): thread-safe.
    // Null: no mail.
    MailSender* mail = nullptr;
    // Messages of what happened, from the loop's thread and the worker; empty: none.
    LogFn log;
};

class Engine final : private MonitorEvents {
public:
    Engine(SessionMonitor::Context context, EngineOptions options);
    ~Engine() override;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    SessionMonitor& monitor() { return m_monitor; }
    EventLoop& loop() { return m_loop; }
    const EngineOptions& options() const { return m_options; }

    // Reads the settings file, starts the console agent and loads the access lists: the monitor is
    // ready, but not yet polling.
    void start();
    // Polls once and starts the poll timer.
    void startPolling();
    void stopPolling();
    bool pollTimerActive() const;
    // Ends the engine's work: timer, agent, the worker's tasks, the history's open sessions.
    // `joinAgent` false only tells the agent's threads to end (each notices within one of its
    // waits, up to 3 s): for a process that exits right after and must do so at once.
    void stop(bool joinAgent = true);

    // A poll (a timer tick or a command): false when it was dropped because one is under way.
    bool poll();
    bool pollBusy() const { return m_busy || m_monitor.pollInProgress(); }
    // The selected row's files, as a click asks for them.
    void refreshOpenFiles();
    // Whether the last finished enumeration succeeded.
    bool lastPollOk() const { return m_lastPollOk; }
    // Loop thread.
    PollState pollState() const { return {m_pollError, m_pollRoute}; }
    // Milliseconds the loop's thread spent on the last finished poll.
    double lastPollLoopMs() const { return m_lastLoopMs; }
    // What the engine has done since it started; any thread reads them (and a face adds what
    // only it sees, such as the outcome of its mails).
    EngineCounters& counters() { return m_counters; }

    // The settings file and the access lists read again (the service's SIGHUP). Settings the file
    // does not name go back to their defaults, as at a start.
    void reload();
    // What the last read of the settings file found wrong, one "FILE:LINE: ..." text each (also
    // logged); a window shows them, where nobody reads a log.
    const std::vector<std::string>& settingsProblems() const { return m_settingsProblems; }
    // Writes the settings file (when one is kept); the failure is logged, and its outcome is for a
    // window to show.
    Outcome saveSettings();

    // After the poll: the report made again when the history grew (at most once a minute), and the
    // daily report when it is due. Runs by itself after every poll; tests call it to check the clock.
    void afterPoll();
    // Waits for the worker's tasks (tests, and the window before it goes).
    void waitForWorker();

    // Hooks for a face. Each is called on the loop's thread.
    std::function<void()> onPollFinished;  // the poll's sessions and files are applied
    std::function<void()> onFilesRefreshed;  // a click's files are applied
    std::function<void()> onTick;  // replaces what a timer tick does (default: poll())
    std::function<void(const SessionEntry&)> onNewUser;  // a new-user event was raised

    // The date of the last daily report sent, kept in the data folder so a restart never sends a
    // day's report twice. Written without a mail the first time the report is switched on.
    std::filesystem::path dailyReportStampPath() const;

private:
    // MonitorEvents
    void newUser(const SessionEntry& session) override;
    void sessionRejected(const std::string& user, const std::string& computer, bool blackListInForce,
                         const NetStatus& status) override;
    void sessionsClosedByUser(std::size_t count) override;

    void log(LogLevel level, const std::string& text) const;
    void loadSettings();
    // Starts, restarts or stops the agent as the settings now ask.
    void applyConsoleAgent();
    void applySessionsFetch(const SessionsFetch& fetch);
    void notePollOutcome(const SessionsFetch& fetch);
    void startFilesFetch(bool forPoll);
    void applyFilesFetch(const FilesFetch& fetch, bool forPoll);
    void finishPoll();
    void runSlow(std::function<void()> task);
    void updateReport(int64_t now);
    void trimHistory(int64_t now);
    void historyWriteFailed(const std::string& error, bool first);
    void sendDailyReport(int64_t now);

    EngineOptions m_options;
    EventLoop m_loop;
    SessionMonitor m_monitor;
    std::unique_ptr<HistoryRecorder> m_recorder;
    std::unique_ptr<RecorderFeed> m_recorderFeed;  // the recorder on its own worker (Background)
    std::unique_ptr<SessionMonitorAgentHost> m_agentHost;
    std::unique_ptr<ConsoleAgent> m_agent;
    std::optional<ConsoleAgent::Config> m_agentRunningWith;
    std::optional<EventLoop::TimerId> m_pollTimer;
    std::vector<std::string> m_settingsProblems;
    bool m_started = false;
    bool m_busy = false;
    bool m_filesPending = false;
    bool m_lastPollOk = true;
    std::string m_pollError;
    std::string m_pollRoute;
    std::set<std::string> m_skipCausesLogged;
    double m_loopMs = 0;
    double m_lastLoopMs = 0;
    std::chrono::steady_clock::time_point m_pollStart;
    EngineCounters m_counters;

    // The report's automatic update: the recorder's write count it was made from, and when.
    uint64_t m_reportWrites = 0;
    std::optional<int64_t> m_reportMadeAt;
    // When the logs were last trimmed to historyDays.
    std::optional<int64_t> m_trimmedAt;
    // The daily report under way on the worker; its date is written when it has gone.
    std::atomic<bool> m_dailyReportSending{false};

    // Last: the worker's tasks use everything above, so it is joined first.
    std::unique_ptr<Worker> m_worker;
};

}  // namespace vantor
