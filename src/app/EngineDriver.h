#pragma once
// The engine's loop driven by Qt's: for the window program, whose engine runs on the GUI thread.

#include "engine/Engine.h"

#include <QObject>
#include <QTimer>

namespace vantor {

// Whatever the engine posts (from its worker too) and its timers run on the GUI thread.
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

}  // namespace vantor
