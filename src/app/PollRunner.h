#pragma once
// The window's side of the engine's poll: starts polls and clicks' refreshes, and tells the window
// (as signals) when their answers are on the tables. The engine does the work; its loop runs on
// the GUI thread, driven by Qt's (see EngineDriver).

#include "engine/Engine.h"

#include <QObject>
#include <QTimer>

namespace vantor {

// Lets Qt's event loop drive the engine's: whatever the engine posts (from its worker too) and its
// timers run on the GUI thread.
class EngineDriver final : public QObject {
    Q_OBJECT
public:
    explicit EngineDriver(EventLoop& loop, QObject* parent = nullptr);
    ~EngineDriver() override;

private:
    void runPending();
    void arm();

    EventLoop& m_loop;
    QTimer m_timer;
};

class PollRunner final : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Background,  // the enumerations on the engine's worker
        GuiThread,   // everything inside the tick, as the monitor's own pollSessions does it
    };
    static EngineOptions::PollMode engineMode(Mode mode);

    PollRunner(Engine& engine, QObject* parent = nullptr);
    ~PollRunner() override;

    bool busy() const { return m_engine.pollBusy(); }
    // A tick or a command: starts one poll; false when it was dropped because one is under way.
    bool poll() { return m_engine.poll(); }
    // A left click in the sessions table: the selected row's files, unless a box of the monitor is open.
    void refreshOpenFiles() { m_engine.refreshOpenFiles(); }
    // Waits for the worker to finish what it runs (the window is going away).
    void waitForWorker() { m_engine.waitForWorker(); }
    // Milliseconds the GUI thread spent on the last finished poll.
    double lastPollGuiMs() const { return m_engine.lastPollLoopMs(); }

signals:
    // The poll's sessions and, when a row was selected, its files are on the tables.
    void pollFinished();
    // A click's files are on the table.
    void filesRefreshed();

private:
    Engine& m_engine;
};

}  // namespace vantor
