#pragma once
// The window's face of an engine in this process (root on Linux, --demo, Windows): Qt's loop drives
// the engine's, so the engine's work that touches the monitor runs on the GUI thread, and what waits
// runs on its worker.

#include "app/EngineDriver.h"
#include "engine/Engine.h"
#include "engine/MonitorFace.h"
#include "monitor/DeskCommands.h"

#include <memory>

namespace vantor {

class LocalMonitorFace final : public MonitorFace, private MonitorView {
public:
    enum class PollMode {
        Background,  // the enumerations on the engine's worker
        GuiThread,  // everything inside the tick, as the monitor's own pollSessions does it
    };
    struct Options {
        PollMode pollMode = PollMode::Background;
        int pollIntervalMs = 3000;
    };

    // The face of `engine`, which outlives it (its own options hold then).
    explicit LocalMonitorFace(Engine& engine);
    // A face with an engine of its own, without history, agent or settings file (tests, bench).
    LocalMonitorFace(SessionMonitor::Context context, Options options);
    ~LocalMonitorFace() override;

    Engine& engine() { return *m_engine; }
    SessionMonitor& monitor() { return m_engine->monitor(); }

    void setListener(FaceListener* listener) override { m_listener = listener; }
    void start() override;
    void stop() override;
    bool pollTimerActive() const override { return m_engine->pollTimerActive(); }
    bool pollBusy() const override { return m_engine->pollBusy(); }
    bool poll() override { return m_engine->poll(); }
    void waitForWorker() override { m_engine->waitForWorker(); }

    const std::vector<SessionEntry>& sessionRows() const override { return m().sessionRows(); }
    std::optional<int> selectedSessionRow() const override { return m().selectedSessionRow(); }
    void selectSessionRow(std::optional<int> row) override { commands().selectSessionRow(row); }
    void refreshOpenFiles() override { m_engine->refreshOpenFiles(); }
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
    std::unique_ptr<HistorySource> historySource() override
    {
        return std::make_unique<LocalHistorySource>(m().dataDir(), monitor().clock(), &m().settings);
    }
    std::function<void(void*)> testMail() override { return {}; }

private:
    LocalMonitorFace(std::unique_ptr<Engine> own, Engine* engine);
    const SessionMonitor& m() const { return m_engine->monitor(); }
    // What the window picks in the tables and menus, on the monitor's desk.
    DeskCommands commands() const { return DeskCommands(m_engine->monitor()); }

    // MonitorView: the monitor's news, passed on.
    void sessionsTableChanged() override;
    void openFilesTableChanged() override;
    void captionChanged() override;
    void startFlash() override;

    std::unique_ptr<Engine> m_ownEngine;
    Engine* m_engine = nullptr;
    std::unique_ptr<EngineDriver> m_driver;
    std::unique_ptr<QObject> m_context;  // the GUI thread's object that work of other threads lands on
    FaceListener* m_listener = nullptr;
};

}  // namespace vantor
