#include "engine/Engine.h"

#include "base/ConsoleAllowList.h"
#include "engine/DailyReport.h"
#include "history/HistoryLog.h"
#include "history/HistoryReport.h"
#include "history/SessionState.h"
#include "options/SettingsFile.h"
#include "platform/AtomicFile.h"
#include "platform/ThreadGuard.h"

#include <fstream>
#include <sstream>

namespace vantor {

namespace {

std::string statusText(const NetStatus& status)
{
    return status.text.empty() ? "error " + std::to_string(status.code) : status.text;
}

// Adds the time of one stretch on the loop's thread to a running total.
class LoopTime {
public:
    explicit LoopTime(double& total)
        : m_total(total)
        , m_start(std::chrono::steady_clock::now())
    {
    }
    ~LoopTime()
    {
        m_total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
    }
    LoopTime(const LoopTime&) = delete;
    LoopTime& operator=(const LoopTime&) = delete;

private:
    double& m_total;
    std::chrono::steady_clock::time_point m_start;
};

constexpr int64_t reportUpdateSeconds = 60;
constexpr int64_t dailyReportPeriod = 24 * 60 * 60;
constexpr int64_t historyTrimPeriod = 24 * 60 * 60;

std::string readSmallFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

}  // namespace

Engine::Engine(SessionMonitor::Context context, EngineOptions options)
    : m_options(std::move(options))
    , m_monitor(std::move(context))
    , m_worker(std::make_unique<Worker>())
{
    m_monitor.setEvents(this);
    m_monitor.settings.historyDays = m_options.historyDaysDefault;
    if (m_options.mail)
        m_monitor.setMailSender(m_options.mail);
    // Work of the agent's threads reaches the monitor through the loop. A window puts its own in
    // place, which runs work of the GUI thread at once, as a command's own work.
    m_monitor.setGuiPoster([this](std::function<void()> fn) { m_loop.post(std::move(fn)); });
    const bool background = m_options.pollMode == EngineOptions::PollMode::Background;
    if (background) {
        m_monitor.setOpenFilesRefresher([this] { startFilesFetch(true); });
        // The closes of a poll and the file lists of its new-user mails go to the worker, in order
        // with the enumerations (a session closed by one poll is gone before the next one asks);
        // what they answer comes back to the loop in the same order.
        m_monitor.setBackgroundRunner([this](std::function<void()> work, std::function<void()> then) {
            m_worker->run([this, work = std::move(work), then = std::move(then)] {
                work();
                if (then)
                    m_loop.post(then);
            });
        });
    }
    if (m_options.history) {
        m_recorder = std::make_unique<HistoryRecorder>(m_monitor.net(), m_monitor.settings, m_monitor.dataDir());
        if (m_options.keepSessions)
            m_recorder->keepStateIn(m_monitor.dataDir() / sessionStateName);
        m_recorder->onWriteFailed = [this](const std::string& error, bool first) { historyWriteFailed(error, first); };
        m_recorder->onWriteRecovered = [this] { log(LogLevel::Notice, "the history is written again"); };
        // The recorder lists every user's files and writes the logs: with the enumerations beside
        // the loop it works beside it too, poll after poll, with the options as they stood.
        if (background) {
            m_recorderFeed = std::make_unique<RecorderFeed>(*m_recorder, m_monitor.settings);
            m_monitor.addPollObserver(m_recorderFeed.get());
        } else {
            m_monitor.addPollObserver(m_recorder.get());
        }
    }
    if (m_options.consoleAgent) {
        if (!m_options.agentConfig.onCommand)
            m_options.agentConfig.onCommand = [this](const console::CommandRequest& request, const std::string& from) {
                using Kind = console::CommandRequest::Kind;
                m_counters.consoleCommand(request.kind);
                // What a console changes is nobody's to check afterwards unless it is written down,
                // with the address it came from: the protocol names no one.
                if (request.kind == Kind::CloseSession)
                    log(LogLevel::Notice, "console " + from + " asks to close the session of " + request.user + " from "
                                              + request.computer);
                else if (request.kind == Kind::CloseAll)
                    log(LogLevel::Notice, "console " + from + " asks to close every session");
                else if (request.kind == Kind::DeleteLogs)
                    log(LogLevel::Notice, "console " + from + " asks to delete the history logs");
            };
        m_agentHost = std::make_unique<SessionMonitorAgentHost>(
            m_monitor, [this](std::function<void()> fn) { m_loop.post(std::move(fn)); });
        const std::filesystem::path dataDir = m_monitor.dataDir();
        m_agentHost->useHistoryReport(dataDir, m_monitor.clock());
        m_agentHost->setLogDeleter([dataDir] { deleteLogs(dataDir); });
        m_agentHost->setClosedCounter([this](std::size_t n) { m_counters.sessionsClosed(CloseReason::Console, n); });
    }
}

Engine::~Engine()
{
    stopPolling();
    if (m_agent)
        m_agent->stop();
    // Joined before anything it uses goes; what it posted is dropped with the loop's queue.
    m_worker.reset();
    m_recorderFeed.reset();
    m_monitor.setBackgroundRunner({});
    m_loop.clear();
    m_monitor.setEvents(nullptr);
}

void Engine::log(LogLevel level, const std::string& text) const
{
    if (m_options.log)
        m_options.log(level, text);
}

// --- life ----------------------------------------------------------------------------------------

void Engine::start()
{
    loadSettings();
    // The agent starts after the settings have their values and before the lists load.
    applyConsoleAgent();
    m_monitor.loadAccessLists();
    if (m_recorder && m_options.keepSessions) {
        const HistoryRecorder::Restored restored = m_recorder->restore(m_monitor.clock().now());
        if (!restored.error.empty())
            log(LogLevel::Warning, restored.error);
        if (!restored.sessions.empty())
            log(LogLevel::Info, std::to_string(restored.sessions.size()) + " sessions of before the restart go on");
        m_monitor.assumeShown(restored.sessions);
    }
    m_started = true;
}

void Engine::startPolling()
{
    poll();
    if (!m_pollTimer)
        m_pollTimer = m_loop.startTimer(m_options.pollInterval, [this] {
            if (onTick)
                onTick();
            else
                poll();
        });
}

void Engine::stopPolling()
{
    if (m_pollTimer)
        m_loop.stopTimer(*m_pollTimer);
    m_pollTimer.reset();
}

bool Engine::pollTimerActive() const
{
    return m_pollTimer.has_value();
}

void Engine::stop(bool joinAgent)
{
    stopPolling();
    if (m_agent) {
        if (joinAgent)
            m_agent->stop();
        else
            m_agent->agentRunning = false;
    }
    m_worker->waitIdle();
    if (m_recorderFeed)
        m_recorderFeed->waitIdle();
    if (m_recorder && m_started) {
        if (m_options.keepSessions)
            m_recorder->saveState(m_monitor.clock().now());
        else
            m_recorder->finish(m_monitor.clock().now());
    }
    m_started = false;
}

void Engine::loadSettings()
{
    if (!m_options.settingsFile)
        return;
    MonitorSettings fresh;
    fresh.historyDays = m_options.historyDaysDefault;
    const SettingsLoad load = loadSettingsFile(*m_options.settingsFile, fresh);
    m_settingsProblems = load.messages;
    if (load.error) {
        log(LogLevel::Error, *load.error);
        m_settingsProblems.push_back(*load.error);
    }
    for (const auto& message : load.messages)
        log(LogLevel::Warning, message);
    if (!load.found)
        log(LogLevel::Info, m_options.settingsFile->string() + ": not there yet; the defaults hold");
    if (load.error)
        return;
    m_monitor.settings = fresh;
}

void Engine::applyConsoleAgent()
{
    if (!m_agentHost)
        return;
    const MonitorSettings& s = m_monitor.settings;
    std::optional<ConsoleAgent::Config> wanted = m_options.agentConfig;
    if (wanted->bindAddress.empty())
        wanted->bindAddress = s.consoleListen;
    const std::vector<Ipv4Network> allowed = parseConsoleAllowList(s.consoleAllow).networks;
    if (m_options.consoleAgentOnlyWhenListed) {
        wanted->allowedConsoles = allowed;
        if (wanted->bindAddress.empty())
            wanted.reset();
    } else if (!allowed.empty()) {
        wanted->allowedConsoles = allowed;
    }
    auto same = [](const std::optional<ConsoleAgent::Config>& a, const std::optional<ConsoleAgent::Config>& b) {
        return a.has_value() == b.has_value()
               && (!a || (a->bindAddress == b->bindAddress && a->allowedConsoles == b->allowedConsoles));
    };
    if (m_agent && same(wanted, m_agentRunningWith)) {
        m_agent->start();  // after a stop(); nothing when it runs
        return;
    }
    const bool wasRunning = m_agent != nullptr;
    m_agent.reset();
    m_agentRunningWith = wanted;
    if (!wanted) {
        if (wasRunning)
            log(LogLevel::Notice, "the console agent is off");
        return;
    }
    m_agent = std::make_unique<ConsoleAgent>(*m_agentHost, *wanted);
    m_agent->start();
    if (m_options.consoleAgentOnlyWhenListed) {
        log(LogLevel::Notice,
            "the console agent listens on " + wanted->bindAddress + " for "
                + (s.consoleAllow.empty() ? std::string("no console (consoleAllow is empty)") : s.consoleAllow));
    }
}

void Engine::reload()
{
    loadSettings();
    applyConsoleAgent();
    m_monitor.loadAccessLists();
    log(LogLevel::Notice, "settings and lists read again");
}

Outcome Engine::saveSettings()
{
    if (!m_options.settingsFile)
        return Outcome::done();
    auto error = saveSettingsFile(*m_options.settingsFile, m_monitor.settings);
    if (!error)
        return Outcome::done();
    // The options are in force, but would be lost at the next start: that must not pass unseen.
    log(LogLevel::Error, *error);
    return Outcome::failed("The options are in force but could not be saved:\n" + *error, "Warning", BoxIcon::Warning);
}

// --- the poll ------------------------------------------------------------------------------------

bool Engine::poll()
{
    if (pollBusy())
        return false;
    m_busy = true;
    m_loopMs = 0;
    m_pollStart = std::chrono::steady_clock::now();
    if (m_options.pollMode == EngineOptions::PollMode::LoopThread) {
        {
            LoopTime t(m_loopMs);
            const SessionsFetch fetch = m_monitor.fetchSessions(m_monitor.settings.serverName.get());
            notePollOutcome(fetch);
            m_monitor.applySessions(fetch);
        }
        finishPoll();
        return true;
    }
    const std::string server = m_monitor.settings.serverName.get();
    m_worker->run([this, server] {
        SessionsFetch fetch;
        // A fetch that throws ends this poll without touching the table; the next one tries again.
        if (!runGuarded("a poll of the sessions", [&] { fetch = m_monitor.fetchSessions(server); }))
            fetch = SessionsFetch{false, {}, {}, {}};
        m_loop.post([this, fetch = std::move(fetch)] { applySessionsFetch(fetch); });
    });
    return true;
}

void Engine::applySessionsFetch(const SessionsFetch& fetch)
{
    const auto serverNow = SessionMonitor::serverArgument(m_monitor.settings.serverName.get());
    if (fetch.serverConvertible && (!serverNow || *serverNow != fetch.server)) {
        // The server was changed while this answer was on its way: it no longer belongs on the
        // table. Ask the server now in force instead.
        m_busy = false;
        poll();
        return;
    }
    notePollOutcome(fetch);
    m_filesPending = false;
    {
        LoopTime t(m_loopMs);
        // May call startFilesFetch through the refresher when a row is selected.
        m_monitor.applySessions(fetch);
    }
    if (!m_filesPending)
        finishPoll();
}

void Engine::notePollOutcome(const SessionsFetch& fetch)
{
    const bool ok = !fetch.serverConvertible || fetch.status.ok();
    m_counters.pollDone(ok);
    if (ok != m_lastPollOk) {
        // Once when polling starts to fail and once when it works again, not at every tick.
        if (!ok)
            log(LogLevel::Error, "the poll failed: " + statusText(fetch.status));
        else
            log(LogLevel::Notice, "the poll works again");
    }
    m_lastPollOk = ok;
    m_pollError = ok ? std::string() : statusText(fetch.status);
    if (!ok || !fetch.serverConvertible)
        return;
    const ListingNotes& notes = fetch.notes;
    if (notes.route != m_pollRoute) {
        if (!notes.route.empty())
            log(LogLevel::Warning,
                "the poll falls back to another listing (" + notes.route + "): " + notes.routeReason
                    + (notes.routeMissing.empty() ? std::string() : "; it lacks " + notes.routeMissing));
        else
            log(LogLevel::Notice, "the poll is back on its usual listing");
        m_pollRoute = notes.route;
    }
    if (!notes.skipped.empty()) {
        m_counters.recordsSkipped(notes.skipped.size());
        // Once per kind of fault: the same record comes back at every poll. The kinds are few (a
        // field and what is wrong with it); the bound keeps a strange server from filling memory.
        for (const auto& skipped : notes.skipped)
            if (m_skipCausesLogged.size() < 256 && m_skipCausesLogged.insert(skipped.cause).second)
                log(LogLevel::Warning, "left out a record of the listing that could not be read (" + skipped.text
                                           + "); the rest is enforced");
    }
}

void Engine::refreshOpenFiles()
{
    if (m_monitor.pollInProgress())
        return;
    if (m_options.pollMode == EngineOptions::PollMode::LoopThread) {
        m_monitor.refreshOpenFiles();
        if (onFilesRefreshed)
            onFilesRefreshed();
        return;
    }
    startFilesFetch(false);
}

void Engine::startFilesFetch(bool forPoll)
{
    std::optional<std::string> user;
    if (auto row = m_monitor.selectedSessionRow())
        user = m_monitor.sessionRows()[static_cast<std::size_t>(*row)].user;
    if (!user) {
        if (!forPoll && onFilesRefreshed)
            onFilesRefreshed();
        return;
    }
    if (forPoll)
        m_filesPending = true;
    const std::string server = m_monitor.settings.serverName.get();
    m_worker->run([this, server, user, forPoll] {
        FilesFetch fetch;
        if (!runGuarded("a poll of the open files", [&] { fetch = m_monitor.fetchOpenFiles(server, user); }))
            fetch = FilesFetch{};
        m_loop.post([this, fetch = std::move(fetch), forPoll] { applyFilesFetch(fetch, forPoll); });
    });
}

void Engine::applyFilesFetch(const FilesFetch& fetch, bool forPoll)
{
    if (!forPoll) {
        // A click's answer that comes while a box of the monitor is open would open a second one.
        if (!m_monitor.pollInProgress())
            m_monitor.applyOpenFiles(fetch);
        if (onFilesRefreshed)
            onFilesRefreshed();
        return;
    }
    {
        LoopTime t(m_loopMs);
        m_monitor.applyOpenFiles(fetch);
    }
    finishPoll();
}

void Engine::finishPoll()
{
    m_busy = false;
    m_lastLoopMs = m_loopMs;
    m_counters.pollDuration(std::chrono::duration<double>(std::chrono::steady_clock::now() - m_pollStart).count());
    afterPoll();
    if (onPollFinished)
        onPollFinished();
}

void Engine::waitForWorker()
{
    m_worker->waitIdle();
}

void Engine::runSlow(std::function<void()> task)
{
    if (m_options.pollMode == EngineOptions::PollMode::LoopThread)
        task();
    else
        m_worker->run(std::move(task));
}

// --- after the poll ------------------------------------------------------------------------------

void Engine::afterPoll()
{
    const int64_t now = m_monitor.clock().now();
    trimHistory(now);
    updateReport(now);
    sendDailyReport(now);
}

void Engine::trimHistory(int64_t now)
{
    const int32_t days = m_monitor.settings.historyDays;
    if (days <= 0 || (m_trimmedAt && now - *m_trimmedAt < historyTrimPeriod && now >= *m_trimmedAt))
        return;
    m_trimmedAt = now;
    const std::filesystem::path dataDir = m_monitor.dataDir();
    runSlow([this, dataDir, days, now] {
        std::string why;
        if (trimLogsTo(dataDir, int64_t{days} * 24 * 60 * 60, now, &why))
            return;
        // The logs stay as they were: nothing is lost, they are only longer until the next try.
        m_counters.historyWriteFailed();
        log(LogLevel::Error, "the history could not be trimmed to " + std::to_string(days) + " days: " + why);
    });
}

void Engine::historyWriteFailed(const std::string& error, bool first)
{
    m_counters.historyWriteFailed();
    // Once when it starts to fail: a full disk would otherwise fill the journal too.
    if (first)
        log(LogLevel::Error, error + "; the lines are kept and written when the disk takes them");
}

void Engine::updateReport(int64_t now)
{
    if (!m_recorder || m_monitor.settings.reportAutoUpdate != 1)
        return;
    const uint64_t writes = m_recorder->writes();
    if (writes == m_reportWrites)
        return;
    // At most once a minute: a busy server adds lines at nearly every poll, and the report of a
    // long history takes a while to write.
    if (m_reportMadeAt && now - *m_reportMadeAt < reportUpdateSeconds && now >= *m_reportMadeAt)
        return;
    m_reportWrites = writes;
    m_reportMadeAt = now;
    const std::filesystem::path dataDir = m_monitor.dataDir();
    const std::string reportPath = m_monitor.settings.reportPath.get();
    runSlow([this, dataDir, reportPath, now] {
        if (!loadAndGenerateReport(dataDir, reportPath, now))
            log(LogLevel::Warning, reportFilePath(dataDir, reportPath).string() + ": the report could not be written");
    });
}

std::filesystem::path Engine::dailyReportStampPath() const
{
    return m_monitor.dataDir() / "daily-report.last";
}

void Engine::sendDailyReport(int64_t now)
{
    const MonitorSettings& s = m_monitor.settings;
    if (s.dailyReport != 1 || s.mailAddress.empty() || !m_options.mail || m_dailyReportSending)
        return;
    const auto at = parseDailyTime(s.dailyReportTime);
    if (!at)
        return;
    const std::string due = dueReportDate(now, *at);
    const std::filesystem::path stamp = dailyReportStampPath();
    const std::string lastSent = readSmallFile(stamp);
    if (lastSent.empty()) {
        // The first time the report is asked for: the reports of the days before were never
        // wanted, so the first one goes at the next time of day, not at once.
        if (auto error = writeFileAtomically(stamp, due + "\n"))
            log(LogLevel::Error, *error);
        return;
    }
    if (!dailyReportDue(due, lastSent))
        return;
    m_dailyReportSending = true;
    const MailRelay relay = mailRelay(s);
    const std::string address = s.mailAddress;
    const std::filesystem::path dataDir = m_monitor.dataDir();
    runSlow([this, now, due, stamp, relay, address, dataDir] {
        const std::string body = HistoryStore::instance().withLoaded(
            dataDir, [&](const HistoryPtr& h) { return dailyReportBody(*h, now - dailyReportPeriod, now); });
        m_options.mail->sendMail(relay, address, address, dailyReportSubject(due), body);
        // Marked as sent also when the mail failed: the failure is logged, and a server that
        // refuses it would otherwise get it again after every poll.
        if (auto error = writeFileAtomically(stamp, due + "\n"))
            log(LogLevel::Error, *error);
        // A failure has its own line, from the mail sender.
        log(LogLevel::Info, "daily report of " + due + " for " + address);
        m_dailyReportSending = false;
    });
}

// --- events --------------------------------------------------------------------------------------

void Engine::newUser(const SessionEntry& session)
{
    m_counters.newUser();
    log(LogLevel::Notice, "new user " + session.user + " from " + session.computer);
    if (onNewUser)
        onNewUser(session);
}

void Engine::sessionRejected(const std::string& user, const std::string& computer, bool blackListInForce,
                             const NetStatus& status)
{
    const std::string why = blackListInForce ? "on the black list" : "not on the white list";
    if (status.ok()) {
        m_counters.sessionsClosed(blackListInForce ? CloseReason::BlackList : CloseReason::WhiteList);
        log(LogLevel::Notice, "closed the session of " + user + " from " + computer + ": " + why);
    } else {
        log(LogLevel::Warning,
            "could not close the session of " + user + " from " + computer + " (" + why + "): " + statusText(status));
    }
}

void Engine::sessionsClosedByUser(std::size_t count)
{
    m_counters.sessionsClosed(CloseReason::User, count);
}

}  // namespace vantor
