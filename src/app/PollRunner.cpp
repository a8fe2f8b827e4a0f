#include "app/PollRunner.h"

#include <QMetaObject>

namespace vantor {

namespace {

// Adds the time of one GUI-thread stretch to a running total.
class GuiTime {
public:
    explicit GuiTime(double& total) : m_total(total) { m_timer.start(); }
    ~GuiTime() { m_total += static_cast<double>(m_timer.nsecsElapsed()) / 1e6; }
    GuiTime(const GuiTime&) = delete;
    GuiTime& operator=(const GuiTime&) = delete;

private:
    double& m_total;
    QElapsedTimer m_timer;
};

}  // namespace

PollRunner::PollRunner(SessionMonitor& monitor, Mode mode, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_mode(mode)
{
    // One worker: fetches run and come back in the order they were asked for.
    m_worker.setMaxThreadCount(1);
    if (m_mode == Mode::Background) {
        m_monitor.setOpenFilesRefresher([this] { startFilesFetch(true); });
        // The closes and the mails' file lists of a poll go to the same worker, so they run in
        // order with the fetches: a session closed by one poll is gone before the next one asks.
        m_monitor.setBackgroundRunner([this](std::function<void()> work, std::function<void()> then) {
            m_worker.start([this, work = std::move(work), then = std::move(then)] {
                work();
                if (then)
                    QMetaObject::invokeMethod(this, then, Qt::QueuedConnection);
            });
        });
    }
}

PollRunner::~PollRunner()
{
    m_monitor.setOpenFilesRefresher({});
    m_monitor.setBackgroundRunner({});
    waitForWorker();
}

void PollRunner::waitForWorker()
{
    m_worker.waitForDone();
}

void PollRunner::stopWorker()
{
    // What has not started is dropped (a close is tried again by the next run's poll); what runs
    // is bounded by the service's time limit.
    m_worker.clear();
    m_worker.waitForDone();
}

bool PollRunner::poll()
{
    if (busy())
        return false;
    m_busy = true;
    m_guiMs = 0;
    if (m_mode == Mode::GuiThread) {
        {
            GuiTime t(m_guiMs);
            m_monitor.pollSessions();
        }
        finishPoll();
        return true;
    }
    const std::string server = m_monitor.settings.serverName.get();
    m_worker.start([this, server] {
        SessionsFetch fetch = m_monitor.fetchSessions(server);
        QMetaObject::invokeMethod(
            this, [this, fetch = std::move(fetch)] { applySessionsFetch(fetch); }, Qt::QueuedConnection);
    });
    return true;
}

void PollRunner::applySessionsFetch(const SessionsFetch& fetch)
{
    const auto serverNow = SessionMonitor::serverArgument(m_monitor.settings.serverName.get());
    if (fetch.serverConvertible && (!serverNow || *serverNow != fetch.server)) {
        // The server was changed while this answer was on its way: it no longer belongs on the
        // table. Ask the server now in force instead.
        m_busy = false;
        poll();
        return;
    }
    m_filesPending = false;
    {
        GuiTime t(m_guiMs);
        // May call startFilesFetch through the refresher when a row is selected.
        m_monitor.applySessions(fetch);
    }
    if (!m_filesPending)
        finishPoll();
}

void PollRunner::refreshOpenFiles()
{
    if (m_monitor.pollInProgress())
        return;
    if (m_mode == Mode::GuiThread) {
        m_monitor.refreshOpenFiles();
        emit filesRefreshed();
        return;
    }
    startFilesFetch(false);
}

void PollRunner::startFilesFetch(bool forPoll)
{
    std::optional<std::string> user;
    if (auto row = m_monitor.selectedSessionRow())
        user = m_monitor.sessionRows()[static_cast<std::size_t>(*row)].user;
    if (!user) {
        if (!forPoll)
            emit filesRefreshed();
        return;
    }
    if (forPoll)
        m_filesPending = true;
    const std::string server = m_monitor.settings.serverName.get();
    m_worker.start([this, server, user, forPoll] {
        FilesFetch fetch = m_monitor.fetchOpenFiles(server, user);
        QMetaObject::invokeMethod(
            this, [this, fetch = std::move(fetch), forPoll] { applyFilesFetch(fetch, forPoll); },
            Qt::QueuedConnection);
    });
}

void PollRunner::applyFilesFetch(const FilesFetch& fetch, bool forPoll)
{
    if (!forPoll) {
        // A click's answer that comes while a box of the monitor is open would open a second one.
        if (!m_monitor.pollInProgress())
            m_monitor.applyOpenFiles(fetch);
        emit filesRefreshed();
        return;
    }
    {
        GuiTime t(m_guiMs);
        m_monitor.applyOpenFiles(fetch);
    }
    finishPoll();
}

void PollRunner::finishPoll()
{
    m_busy = false;
    m_lastGuiMs = m_guiMs;
    emit pollFinished();
}

}  // namespace vantor
