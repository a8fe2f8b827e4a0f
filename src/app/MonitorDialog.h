#pragma once
// The main window: the sessions table, the open-files table, the tray icon and its menu, the flash
// timer. It shows the state of its face of the monitor and turns clicks into the face's calls; the
// face polls (an engine in this process, or the service over the bus).

#include "options/OptionsSheet.h"
#include "engine/MonitorFace.h"
#include "ui/SlideAway.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTableView;

namespace vantor {

class ActivityIndicator;
class OpenFilesWindow;
class SharesWindow;
class TableColumns;
class OpenFilesTableModel;
class SessionsTableModel;
class SplitterBar;

class MonitorDialog final : public QDialog, private FaceListener {
    Q_OBJECT
public:
    // Command ids of the menus.
    enum Command {
        CloseSessionCommand = 32771,
        CloseResourceCommand = 32777,
        ConnectToUserCommand = 32780,
        OpenFolderCommand = 32783,
        AddBlackUserCommand = 32784,
        AddBlackComputerCommand = 32785,
        AddBlackBothCommand = 32786,
        AddWhiteUserCommand = 32787,
        AddWhiteComputerCommand = 32788,
        AddWhiteBothCommand = 32789,
        CloseAllSessionsCommand = 32791,
        MainDialogCommand = 32773,
        ExitCommand = 32774,
        ShowHistoryCommand = 32775,
        ClearHistoryCommand = 32776,
        OptionsCommand = 32778,
        AboutCommand = 32779,
        OpenFilesWindowCommand = 32800,
        SharesWindowCommand = 32801,
    };

    struct Options {
        int flashIntervalMs = 500;
        // The slide-away of "Hide" and the busy indicator; tests switch them off.
        bool animations = true;
        // Added to the title, e.g. " (demo)".
        QString titleSuffix;
        // How "Connect to user", "Open folder" and help reach the desktop (default QDesktopServices).
        std::function<bool(const QUrl&)> openUrl;
        // The desktop's bell for "Beep" (default QApplication::beep).
        std::function<void()> beep;
        // Whether a tray can show the icon (default: ask the desktop). Without one, hiding would
        // leave a running program that nobody can reach, so the window is minimised instead.
        std::function<bool()> trayAvailable;
        // Whether the window's size and splitter are kept in the layout file and taken back at
        // the next start (the program's window; tests leave it off).
        bool rememberLayout = false;
    };

    // The window of `face`, which outlives it.
    MonitorDialog(MonitorFace& face, Options options, QWidget* parent = nullptr);
    ~MonitorDialog() override;

    MonitorFace& face() { return m_face; }

    // Run on "Exit", in the order added, after the poll timer is stopped and the tray icon removed
    // (the console agent's threads are stopped here).
    void addExitStep(std::function<void()> step) { m_exitSteps.push_back(std::move(step)); }

    // What the Options window needs from the history and the mail.
    void setOptionsDeps(OptionsDeps deps) { m_optionsDeps = std::move(deps); }

    // Shows the tray icon and starts the face: its first poll and its timer.
    void start();

    // Carries out a command on the selected rows; from a context menu, on the session or file the
    // menu was opened on (`menu`).
    void runCommand(int command, const MenuTarget* menu = nullptr);
    // What the last context menu was opened on.
    const MenuTarget& menuTarget() const { return m_menuTarget; }

    // --- for tests and the bench -------------------------------------------------------------
    QTableView* sessionsView() const { return m_sessionsView; }
    QTableView* filesView() const { return m_filesView; }
    SessionsTableModel* sessionsModel() const { return m_sessionsModel; }
    OpenFilesTableModel* filesModel() const { return m_filesModel; }
    QLabel* captionLabel() const { return m_caption; }
    QLabel* noUsersLabel() const { return m_noUsers; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* sessionsMenu() const { return m_sessionsMenu; }
    QMenu* filesMenu() const { return m_filesMenu; }
    QMenu* trayMenu() const { return m_trayMenu; }
    QPushButton* hideButton() const { return m_hideButton; }
    QPushButton* helpButton() const { return m_helpButton; }
    QPushButton* remoteButton() const { return m_remoteButton; }
    QPushButton* historyButton() const { return m_historyButton; }
    QPushButton* openFilesButton() const { return m_openFilesButton; }
    QPushButton* sharesButton() const { return m_sharesButton; }
    SplitterBar* splitter() const { return m_splitter; }
    TableColumns* sessionColumns() const { return m_sessionColumns; }
    OpenFilesWindow* openFilesWindow() const { return m_openFilesWindow; }
    SharesWindow* sharesWindow() const { return m_sharesWindow; }
    bool pollTimerActive() const { return m_face.pollTimerActive(); }
    const QTimer& flashTimer() const { return m_flashTimer; }
    bool trayShowsUserFigure() const { return m_trayShowsUser; }
    bool sliding() const { return m_slide->active(); }

    // The left button on the tray icon.
    void showFromTray();
    // What the poll timer and the flash timer run at each tick.
    void pollTick();
    void flashTick();

signals:
    // "Exit" was chosen: the program ends.
    void exitRequested();
    // A poll's sessions and, when a row was selected, its files are on the tables.
    void pollFinished();
    // A click's files are on the table.
    void filesRefreshed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // FaceListener
    void sessionsTableChanged() override;
    void openFilesTableChanged() override;
    void captionChanged() override;
    void startFlash() override;
    void pollTimerTick() override { pollTick(); }
    void pollApplied() override;
    void filesApplied() override { emit filesRefreshed(); }
    void newUserArrived(bool beep, bool popup) override;

    void buildWindow();
    void buildMenus();
    // Notes what the menu is opened on (the row under the pointer is selected first) and opens it.
    void openContextMenu(QMenu* menu, QTableView* table, const QPoint& pos, const QPoint& global);
    void buildTray();
    void updateNoUsersLabel();
    void startHide();
    void hideToTray();
    void splitterMoved(int delta);
    void layoutWidgets();
    void restoreLayout();
    void remoteServerCommand();
    void openHelp();
    bool openUrl(const QUrl& url);
    void showAbout();
    void exitProgram();
    void showHistory(bool fromButton);
    void clearHistory();
    void showOptions();
    // The detail windows and the tray's counts follow the published snapshot.
    void showSnapshot();
    void updateAllFilesListing();

    Options m_options;
    MonitorFace& m_face;

    QTableView* m_sessionsView = nullptr;
    QTableView* m_filesView = nullptr;
    SessionsTableModel* m_sessionsModel = nullptr;
    OpenFilesTableModel* m_filesModel = nullptr;
    QLabel* m_caption = nullptr;
    QLabel* m_noUsers = nullptr;
    ActivityIndicator* m_activity = nullptr;
    SplitterBar* m_splitter = nullptr;
    QPushButton* m_hideButton = nullptr;
    QPushButton* m_helpButton = nullptr;
    QPushButton* m_remoteButton = nullptr;
    QPushButton* m_historyButton = nullptr;
    QPushButton* m_openFilesButton = nullptr;
    QPushButton* m_sharesButton = nullptr;
    TableColumns* m_sessionColumns = nullptr;
    OpenFilesWindow* m_openFilesWindow = nullptr;
    SharesWindow* m_sharesWindow = nullptr;

    QMenu* m_sessionsMenu = nullptr;
    QMenu* m_filesMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QIcon m_trayNormal;
    QIcon m_trayUser;
    bool m_flashPhase = false;
    bool m_trayShowsUser = false;

    QTimer m_flashTimer;
    SlideAway* m_slide = nullptr;
    bool m_tickPoll = false;  // the running poll came from the poll timer

    bool m_syncingSelection = false;
    bool m_layingOut = false;  // the splitter is put back at its place after a resize
    bool m_exiting = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
    std::vector<std::function<void()>> m_exitSteps;
    MenuTarget m_menuTarget;
    OptionsDeps m_optionsDeps;
};

}  // namespace vantor
