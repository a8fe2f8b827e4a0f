#include "app/LocalMonitorFace.h"

#include "engine/Commands.h"

#include <QThread>

namespace vantor {

namespace {

EngineOptions ownEngineOptions(const LocalMonitorFace::Options& options)
{
    EngineOptions e;
    e.pollInterval = std::chrono::milliseconds(options.pollIntervalMs);
    e.pollMode = options.pollMode == LocalMonitorFace::PollMode::GuiThread ? EngineOptions::PollMode::LoopThread
                                                                           : EngineOptions::PollMode::Background;
    e.history = false;
    return e;
}

}  // namespace

LocalMonitorFace::LocalMonitorFace(Engine& engine)
    : LocalMonitorFace(nullptr, &engine)
{
}

LocalMonitorFace::LocalMonitorFace(SessionMonitor::Context context, Options options)
    : LocalMonitorFace(std::make_unique<Engine>(std::move(context), ownEngineOptions(options)), nullptr)
{
}

LocalMonitorFace::LocalMonitorFace(std::unique_ptr<Engine> own, Engine* engine)
    : m_ownEngine(std::move(own))
    , m_engine(engine ? engine : m_ownEngine.get())
{
    m_driver = std::make_unique<EngineDriver>(m_engine->loop());
    m_context = std::make_unique<QObject>();
    SessionMonitor& mon = monitor();
    mon.setView(this);
    mon.setGuiPoster([context = m_context.get()](std::function<void()> fn) {
        if (QThread::currentThread() == context->thread())
            fn();
        else
            QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
    });
    m_engine->onTick = [this] {
        if (m_listener)
            m_listener->pollTimerTick();
        else
            m_engine->poll();
    };
    m_engine->onPollFinished = [this] {
        if (m_listener)
            m_listener->pollApplied();
    };
    m_engine->onFilesRefreshed = [this] {
        if (m_listener)
            m_listener->filesApplied();
    };
    m_engine->onNewUser = [this](const SessionEntry&) {
        const MonitorSettings& s = monitor().settings;
        if (m_listener)
            m_listener->newUserArrived(s.beepOnNewUser != 0, s.popupOnNewUser != 0);
    };
}

LocalMonitorFace::~LocalMonitorFace()
{
    m_engine->stopPolling();
    m_engine->onTick = {};
    m_engine->onPollFinished = {};
    m_engine->onFilesRefreshed = {};
    m_engine->onNewUser = {};
    m_engine->waitForWorker();
    // Before the engine they hang on, which an own engine is, goes with the members.
    m_driver.reset();
    m_context.reset();
    monitor().setView(nullptr);
    monitor().setGuiPoster([loop = &m_engine->loop()](std::function<void()> fn) { loop->post(std::move(fn)); });
}

void LocalMonitorFace::start()
{
    m_engine->start();
    monitor().desk()->mainVisible = true;
    m_engine->startPolling();
}

void LocalMonitorFace::stop()
{
    m_engine->stopPolling();
}

void LocalMonitorFace::setRemoteServer(const std::string& text)
{
    if (chooseServer(monitor(), text, Chooser::Desk).showOn(monitor().boxes()))
        m_engine->poll();
}

void LocalMonitorFace::clearHistory()
{
    vantor::clearHistory(monitor().dataDir()).showOn(monitor().boxes());
}

void LocalMonitorFace::sessionsTableChanged()
{
    if (m_listener)
        m_listener->sessionsTableChanged();
}

void LocalMonitorFace::openFilesTableChanged()
{
    if (m_listener)
        m_listener->openFilesTableChanged();
}

void LocalMonitorFace::captionChanged()
{
    if (m_listener)
        m_listener->captionChanged();
}

void LocalMonitorFace::startFlash()
{
    if (m_listener)
        m_listener->startFlash();
}

void LocalMonitorFace::editOptions(OptionsWindow runWindow)
{
    storeOptions(*m_engine, runWindow(optionsOf(monitor())));
}

}  // namespace vantor
