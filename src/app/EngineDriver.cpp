#include "app/EngineDriver.h"

#include <QMetaObject>

namespace vantor {

EngineDriver::EngineDriver(EventLoop& loop, QObject* parent)
    : QObject(parent)
    , m_loop(loop)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &EngineDriver::runPending);
    // Called on any thread; the queued call lands on this object's (the GUI) thread, and is dropped
    // with the object if it has gone.
    m_loop.setWakeup([this] {
        QMetaObject::invokeMethod(
            this, [this] { runPending(); }, Qt::QueuedConnection);
    });
}

EngineDriver::~EngineDriver()
{
    m_loop.setWakeup({});
}

void EngineDriver::runPending()
{
    m_loop.runPending();
    arm();
}

void EngineDriver::arm()
{
    const auto next = m_loop.nextDeadline();
    if (!next) {
        m_timer.stop();
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now());
    m_timer.start(static_cast<int>(std::max<int64_t>(0, wait.count())));
}

}  // namespace vantor
