#pragma once
// The window's face of the service (vantord) over the system bus: the window runs as the user,
// and every command is a call that polkit authorizes. The calls wait (on polkit, which may ask for
// a password, and on Samba), so they run one after another on a worker; their outcomes come back
// to the GUI thread. The service's signals arrive on a connection of the GUI thread's own, watched
// by Qt's loop, so nothing polls: a change of the sessions is fetched when the service says so.
//
// A refusal, or a service that is not there or went away, is one box that says what to do; the
// box comes again only after things went well in between.

#include "bus/MonitorBusClient.h"
#include "engine/MonitorFace.h"
#include "engine/Worker.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace vantor {

class BusMonitorFace final : public MonitorFace {
public:
    // Connects to `address` (empty: the system bus); null with `error` when the bus cannot be had.
    static std::unique_ptr<BusMonitorFace> connect(const std::string& address, MessageBoxes& boxes, std::string& error);
    ~BusMonitorFace() override;

    bool serviceRunning() { return m_signals->serviceRunning(); }

    void setListener(FaceListener* listener) override { m_listener = listener; }
    void start() override;
    void stop() override;
    bool pollTimerActive() const override { return false; }
    bool pollBusy() const override { return m_fetching; }
    bool poll() override;
    void waitForWorker() override { m_worker->waitIdle(); }

    const std::vector<SessionEntry>& sessionRows() const override { return m_rows; }
    std::optional<int> selectedSessionRow() const override { return m_desk.selectedRow; }
    void selectSessionRow(std::optional<int> row) override;
    void refreshOpenFiles() override;
    const std::vector<OpenFileRow>& openFileRows() const override { return m_desk.fileRows; }
    std::optional<int> selectedFileRow() const override { return m_desk.selectedFileRow; }
    void selectFileRow(std::optional<int> row) override;
    std::string captionText() const override { return m_caption; }
    SessionsSnapshotPtr snapshot() const override { return m_snapshot; }
    int64_t now() const override;
    bool listAllFiles() const override { return m_listAllFiles; }
    void setListAllFiles(bool on) override;
    MenuTarget menuTarget() const override;
    bool mainVisible() const override { return m_desk.mainVisible; }
    void setMainVisible(bool visible) override { m_desk.mainVisible = visible; }

    void closeSession(const MenuTarget* menu) override;
    void closeAllSessions() override;
    void closeResource(const MenuTarget* menu) override;
    void closeListedFile(const NetFileInfo& file) override;
    std::optional<OpenTarget> connectToUserTarget(const MenuTarget* menu) override;
    std::optional<OpenTarget> openFolderTarget(const MenuTarget* menu) override;
    void addToList(ListKind list, ListTarget target, const MenuTarget* menu) override;
    void setRemoteServer(const std::string& text) override;
    void clearHistory() override;

    void editOptions(OptionsWindow runWindow) override;
    MessageBoxes& boxes() override { return m_boxes; }
    std::filesystem::path helpDir() const override;
    std::unique_ptr<HistorySource> historySource() override;
    std::function<void(void*)> testMail() override;

    // The texts of the boxes.
    static std::string notRunningText();
    static std::string lostText();
    // What a failed call's box says.
    static std::string errorText(const BusError& error);
    // Where the service's report is kept for the user to open.
    static std::filesystem::path reportFolder();

private:
    class History;
    BusMonitorFace(MessageBoxes& boxes)
        : m_boxes(boxes)
    {
    }

    // Runs `call` on the worker with the calls' connection, then `then` on the GUI thread.
    void call(std::function<void(MonitorBusClient&)> call, std::function<void()> then);
    // `asking` false: polkit is not to ask the user (the quiet retries after a refusal).
    void fetchSessions(bool asking = true);
    // While the service refuses the rows, they are asked for again now and then: a rule that lets
    // the user in changes nothing the service would signal.
    void retryRefused();
    void fetchFiles(bool forPoll);
    // The box of a failed call. A command's failure is always told; the fetches' only once until
    // one succeeds again.
    void tell(const BusError& error, bool command);
    std::optional<SessionEntry> commandSession(const MenuTarget* menu, bool& gone) const;
    std::optional<OpenFileRow> commandFile(const MenuTarget* menu, bool& gone) const;
    void selectError(const char* text);
    void publishSnapshot(uint32_t sessions, uint32_t openFiles);

    MessageBoxes& m_boxes;
    std::unique_ptr<MonitorBusClient> m_calls;  // the worker's
    std::unique_ptr<MonitorBusClient> m_signals;  // the GUI thread's
    std::unique_ptr<QObject> m_context;
    QSocketNotifier* m_notifier = nullptr;
    std::unique_ptr<Worker> m_worker;
    FaceListener* m_listener = nullptr;
    bool m_stopped = false;
    bool m_fetching = false;
    bool m_fetchAgain = false;
    bool m_problemTold = false;
    // Between the service's going and its coming back: nothing is asked, and what comes back from
    // before is no news to tell (its going was told).
    bool m_serviceGone = false;
    bool m_retryPending = false;

    // The service's rows as last fetched, and what this desktop chose of them.
    std::vector<SessionEntry> m_rows;
    Desk m_desk;
    std::string m_caption = captionPlain;
    SessionsSnapshotPtr m_snapshot = std::make_shared<const SessionsSnapshot>();
    bool m_listAllFiles = false;
    // Every user's files as the last fetch listed them while a window asked for them.
    struct AllFiles {
        bool asked = false;
        std::optional<std::vector<NetFileInfo>> rows;
        std::vector<NetShareInfo> shares;
        std::string error;
    };
    AllFiles m_allFiles;
};

}  // namespace vantor
