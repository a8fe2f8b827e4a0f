#pragma once
// The windows' face of an engine in this process, on Windows: the window thread's message loop
// drives the engine's loop (a message-only window is woken for posted work and timed for its
// timers), so the engine's work that touches the monitor runs on the window thread and what waits
// runs on its worker. Everything the windows ask of the engine goes through here (MonitorFace):
// when the engine's commands change shape, this file changes, the windows do not.

#include "engine/Engine.h"
#include "engine/MonitorFace.h"
#include "monitor/DeskCommands.h"

#include <windows.h>

#include <memory>

namespace vantor::win {

// Runs an engine loop's work on the thread that made it, inside that thread's message loop.
class LoopDriver {
public:
    explicit LoopDriver(EventLoop& loop);
    ~LoopDriver();
    LoopDriver(const LoopDriver&) = delete;
    LoopDriver& operator=(const LoopDriver&) = delete;
    // Runs `fn` on the driver's thread: at once when called there, else through its messages.
    void toWindowThread(std::function<void()> fn);
    bool onWindowThread() const { return GetCurrentThreadId() == m_thread; }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void runPending();
    void arm();

    EventLoop& m_loop;
    HWND m_hwnd = nullptr;
    DWORD m_thread = 0;
};

class WinMonitorFace final : public MonitorFace, private MonitorView {
public:
    // The face of `engine`, which outlives it.
    explicit WinMonitorFace(Engine& engine);
    ~WinMonitorFace() override;

    Engine& engine() { return m_engine; }
    SessionMonitor& monitor() { return m_engine.monitor(); }
    LoopDriver& driver() { return *m_driver; }

    void setListener(FaceListener* listener) override { m_listener = listener; }
    void start() override;
    void stop() override { m_engine.stopPolling(); }
    bool pollTimerActive() const override { return m_engine.pollTimerActive(); }
    bool pollBusy() const override { return m_engine.pollBusy(); }
    bool poll() override { return m_engine.poll(); }
    void waitForWorker() override { m_engine.waitForWorker(); }

    const std::vector<SessionEntry>& sessionRows() const override { return m().sessionRows(); }
    std::optional<int> selectedSessionRow() const override { return m().selectedSessionRow(); }
    void selectSessionRow(std::optional<int> row) override { commands().selectSessionRow(row); }
    void refreshOpenFiles() override { m_engine.refreshOpenFiles(); }
    const std::vector<OpenFileRow>& openFileRows() const override { return m().openFileRows(); }
    std::optional<int> selectedFileRow() const override { return m().selectedFileRow(); }
    void selectFileRow(std::optional<int> row) override { commands().selectFileRow(row); }
    std::string captionText() const override { return m().captionText(); }
    SessionsSnapshotPtr snapshot() const override { return m().snapshot(); }
    int64_t now() const override { return m().clock().now(); }
    bool listAllFiles() const override { return m().listAllFiles(); }
    void setListAllFiles(bool on) override { monitor().setListAllFiles(on); }
    MenuTarget menuTarget() const override { return commands().menuTarget(); }
    bool mainVisible() const override { return m().desk()->mainVisible; }
    void setMainVisible(bool visible) override { monitor().desk()->mainVisible = visible; }

    void closeSession(const MenuTarget* menu) override { commands().closeSession(menu); }
    void closeAllSessions() override { monitor().closeAllSessionsCommand(); }
    void closeResource(const MenuTarget* menu) override { commands().closeResource(menu); }
    void closeListedFile(const NetFileInfo& file) override { monitor().closeListedFile(file); }
    std::optional<OpenTarget> connectToUserTarget(const MenuTarget* menu) override
    {
        return commands().connectToUserTarget(menu);
    }
    std::optional<OpenTarget> openFolderTarget(const MenuTarget* menu) override
    {
        return commands().openFolderTarget(menu);
    }
    void addToList(ListKind list, ListTarget target, const MenuTarget* menu) override
    {
        commands().addToList(list, target, menu);
    }
    void setRemoteServer(const std::string& text) override;
    void clearHistory() override;
    void editOptions(OptionsWindow runWindow) override;
    MessageBoxes& boxes() override { return monitor().boxes(); }
    std::filesystem::path helpDir() const override { return m().dataDir(); }
    std::unique_ptr<HistorySource> historySource() override;
    std::function<void(void*)> testMail() override { return {}; }

private:
    const SessionMonitor& m() const { return m_engine.monitor(); }
    // What the window picks in the tables and menus, on the monitor's desk.
    DeskCommands commands() const { return DeskCommands(m_engine.monitor()); }
    void sessionsTableChanged() override;
    void openFilesTableChanged() override;
    void captionChanged() override;
    void startFlash() override;

    Engine& m_engine;
    std::unique_ptr<LoopDriver> m_driver;
    FaceListener* m_listener = nullptr;
};

}  // namespace vantor::win
