#pragma once
// Runs the monitor's polls for the window. The service is asked on a worker thread (on Samba one
// smbstatus run takes ~150 ms for 200 sessions) and its answer is applied on the GUI thread, so the
// order of one poll holds: enumeration, closes, new-user event, rebuild, open files of the selected
// row. The closes and the file lists of the new-user mails run on the same worker, queued by the
// apply step, and whatever they answer comes back to the GUI thread in that order. A poll counts as under way from the tick until its files are applied or its box is closed;
// a tick in that time is dropped, so polls never overlap and error boxes never pile up.

#include "monitor/SessionMonitor.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThreadPool>

namespace vantor {

class PollRunner final : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Background,  // the enumerations on a worker thread
        GuiThread,   // everything inside the tick, as the monitor's own pollSessions does it
    };

    PollRunner(SessionMonitor& monitor, Mode mode, QObject* parent = nullptr);
    ~PollRunner() override;

    Mode mode() const { return m_mode; }
    bool busy() const { return m_busy || m_monitor.pollInProgress(); }

    // A tick or a command: starts one poll; false when it was dropped because one is under way.
    bool poll();
    // A left click in the sessions table: the selected row's files, unless a box of the monitor is open.
    void refreshOpenFiles();
    // Waits for the worker to finish what it runs (the window is going away).
    void waitForWorker();
    // "Exit": drops the work not started and waits only for what runs.
    void stopWorker();

    // Milliseconds the GUI thread spent on the last finished poll.
    double lastPollGuiMs() const { return m_lastGuiMs; }

signals:
    // The poll's sessions and, when a row was selected, its files are on the tables.
    void pollFinished();
    // A click's files are on the table.
    void filesRefreshed();

private:
    void applySessionsFetch(const SessionsFetch& fetch);
    void startFilesFetch(bool forPoll);
    void applyFilesFetch(const FilesFetch& fetch, bool forPoll);
    void finishPoll();

    SessionMonitor& m_monitor;
    const Mode m_mode;
    QThreadPool m_worker;
    bool m_busy = false;
    bool m_filesPending = false;
    double m_guiMs = 0;
    double m_lastGuiMs = 0;
};

}  // namespace vantor
