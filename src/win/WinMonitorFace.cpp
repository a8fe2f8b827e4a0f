#include "win/WinMonitorFace.h"

#include "engine/Commands.h"
#include "history/HistoryLog.h"
#include "history/HistoryReport.h"
#include "platform/Paths.h"

#include <thread>

namespace vantor::win {

namespace {

constexpr UINT wakeMessage = WM_APP + 1;
constexpr UINT_PTR deadlineTimer = 1;
constexpr UINT toThreadMessage = WM_APP + 2;
const wchar_t* const driverClass = L"VantorLoopDriver";

}  // namespace

LoopDriver::LoopDriver(EventLoop& loop)
    : m_loop(loop)
    , m_thread(GetCurrentThreadId())
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = &LoopDriver::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = driverClass;
    RegisterClassW(&wc);  // a second driver finds the class registered
    m_hwnd = CreateWindowExW(0, driverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    // Any thread posts; the message lands on this thread's loop, and a driver gone takes its
    // window (and the messages still queued for it) with it.
    m_loop.setWakeup([hwnd = m_hwnd] { PostMessageW(hwnd, wakeMessage, 0, 0); });
    arm();
}

LoopDriver::~LoopDriver()
{
    m_loop.setWakeup({});
    DestroyWindow(m_hwnd);
}

void LoopDriver::toWindowThread(std::function<void()> fn)
{
    if (onWindowThread()) {
        fn();
        return;
    }
    auto* task = new std::function<void()>(std::move(fn));
    if (!PostMessageW(m_hwnd, toThreadMessage, 0, reinterpret_cast<LPARAM>(task)))
        delete task;
}

LRESULT CALLBACK LoopDriver::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        return TRUE;
    }
    auto* self = reinterpret_cast<LoopDriver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
    case wakeMessage:
    case WM_TIMER:
        if (self)
            self->runPending();
        return 0;
    case toThreadMessage: {
        std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        if (self)
            (*task)();
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void LoopDriver::runPending()
{
    m_loop.runPending();
    arm();
}

void LoopDriver::arm()
{
    const auto next = m_loop.nextDeadline();
    if (!next) {
        KillTimer(m_hwnd, deadlineTimer);
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now());
    SetTimer(m_hwnd, deadlineTimer, static_cast<UINT>(std::max<int64_t>(USER_TIMER_MINIMUM, wait.count())), nullptr);
}

// --- the face -----------------------------------------------------------------------------------

namespace {

// The logs of this program's data folder, read and written beside the window thread.
class ThreadHistorySource final : public HistorySource {
public:
    ThreadHistorySource(std::filesystem::path dataDir, const Clock& clock, const MonitorSettings& settings,
                        LoopDriver& driver)
        : m_dataDir(std::move(dataDir))
        , m_clock(clock)
        , m_settings(settings)
        , m_driver(driver)
    {
    }
    ~ThreadHistorySource() override
    {
        for (auto& t : m_threads)
            t.join();
        // An answer still queued for the window thread finds its window gone.
        *m_alive = false;
    }

    void load(Loaded done) override
    {
        m_threads.emplace_back([this, done = std::move(done)] {
            HistoryPtr history = loadHistory(m_dataDir);
            m_driver.toWindowThread([alive = m_alive, done, history] {
                if (*alive)
                    done(history, {});
            });
        });
    }

    void writeReport(const HistoryPtr& shown, const std::string& pathName, std::function<void(Report)> done) override
    {
        m_threads.emplace_back([this, shown, pathName, settingsPath = m_settings.reportPath.get(), now = m_clock.now(),
                                done = std::move(done)] {
            const Report report = writeShownReport(*shown, m_dataDir, pathName, settingsPath, now);
            m_driver.toWindowThread([alive = m_alive, done, report] {
                if (*alive)
                    done(report);
            });
        });
    }

    std::string reportPath() const override { return m_settings.reportPath.get(); }

private:
    std::filesystem::path m_dataDir;
    const Clock& m_clock;
    const MonitorSettings& m_settings;
    LoopDriver& m_driver;
    std::vector<std::thread> m_threads;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace

WinMonitorFace::WinMonitorFace(Engine& engine)
    : m_engine(engine)
    , m_driver(std::make_unique<LoopDriver>(engine.loop()))
{
    SessionMonitor& mon = monitor();
    mon.setView(this);
    mon.setGuiPoster([driver = m_driver.get()](std::function<void()> fn) { driver->toWindowThread(std::move(fn)); });
    m_engine.onTick = [this] {
        if (m_listener)
            m_listener->pollTimerTick();
        else
            m_engine.poll();
    };
    m_engine.onPollFinished = [this] {
        if (m_listener)
            m_listener->pollApplied();
    };
    m_engine.onFilesRefreshed = [this] {
        if (m_listener)
            m_listener->filesApplied();
    };
    m_engine.onNewUser = [this](const SessionEntry&) {
        const MonitorSettings& s = monitor().settings;
        if (m_listener)
            m_listener->newUserArrived(s.beepOnNewUser != 0, s.popupOnNewUser != 0);
    };
}

WinMonitorFace::~WinMonitorFace()
{
    m_engine.stopPolling();
    m_engine.onTick = {};
    m_engine.onPollFinished = {};
    m_engine.onFilesRefreshed = {};
    m_engine.onNewUser = {};
    m_engine.waitForWorker();
    m_driver.reset();
    monitor().setView(nullptr);
    monitor().setGuiPoster([loop = &m_engine.loop()](std::function<void()> fn) { loop->post(std::move(fn)); });
}

void WinMonitorFace::start()
{
    m_engine.start();
    monitor().desk()->mainVisible = true;
    m_engine.startPolling();
}

void WinMonitorFace::setRemoteServer(const std::string& text)
{
    if (chooseServer(monitor(), text, Chooser::Desk).showOn(monitor().boxes()))
        m_engine.poll();
}

void WinMonitorFace::clearHistory()
{
    vantor::clearHistory(monitor().dataDir()).showOn(monitor().boxes());
}

std::unique_ptr<HistorySource> WinMonitorFace::historySource()
{
    return std::make_unique<ThreadHistorySource>(m().dataDir(), m().clock(), m().settings, *m_driver);
}

void WinMonitorFace::sessionsTableChanged()
{
    if (m_listener)
        m_listener->sessionsTableChanged();
}

void WinMonitorFace::openFilesTableChanged()
{
    if (m_listener)
        m_listener->openFilesTableChanged();
}

void WinMonitorFace::captionChanged()
{
    if (m_listener)
        m_listener->captionChanged();
}

void WinMonitorFace::startFlash()
{
    if (m_listener)
        m_listener->startFlash();
}

void WinMonitorFace::editOptions(OptionsWindow runWindow)
{
    storeOptions(m_engine, runWindow(optionsOf(monitor())));
}

}  // namespace vantor::win
