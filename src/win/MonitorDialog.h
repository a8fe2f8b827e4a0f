#pragma once
// The main window of the Windows program (dialog 102): the sessions and open-files tables, the
// splitter between them, the tray icon with its menu and its flash, and the buttons. It shows
// the state of its face of the monitor and turns clicks, menu commands and tray messages into the
// face's calls.

#include "engine/MonitorFace.h"
#include "platform/DesktopShell.h"
#include "win/DetailWindows.h"
#include "win/ListColumns.h"
#include "win/OptionsSheet.h"
#include "win/SplitterBar.h"
#include "win/WinUi.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace vantor::win {

struct MonitorDialogDeps {
    // The slide-away of "Hide"; tests switch it off.
    bool animations = true;
    UINT flashIntervalMs = 500;
    // The window layout file (columns shown, the sizes of the windows beside the main window);
    // none: nothing kept.
    std::filesystem::path layoutFile;
    // Added to the title, e.g. " (demo)".
    std::string titleSuffix;
    // "Beep" of a new user (default: the system's sound).
    std::function<void()> beep;
    // "Connect to user" and "Open folder" (default: the shell's "explore").
    DesktopShell* shell = nullptr;
    // The help page (default: the page beside the program, opened by the shell).
    std::function<void(HWND owner)> openHelp;
    // The About box (default: the program's own).
    std::function<void(HWND owner)> about;
    OptionsDeps options;
};

class MonitorDialog final : public Dialog, private FaceListener {
public:
    MonitorDialog(MonitorFace& face, MonitorDialogDeps deps);
    ~MonitorDialog() override;

    MonitorFace& face() { return m_face; }
    // Run on "Exit" in the order added, after the poll timer is stopped and the tray icon removed.
    void addExitStep(std::function<void()> step) { m_exitSteps.push_back(std::move(step)); }

    // The program's run: the window made and its messages carried until "Exit". The main window
    // is modeless under this loop so that the windows beside it get their keys (Tab, Enter, Esc)
    // as a dialog's controls do.
    int run();
    // A key message for the main window or a window beside it, handled as its dialog does it.
    bool translateDialogKeys(MSG& msg);

    // A menu command; from a context menu, on what the menu was opened on (`menu`).
    void runCommand(int command, const MenuTarget* menu = nullptr);

    // --- what tests look at ---------------------------------------------------------------------
    HWND sessionsList() const { return item(IDC_SESSIONS); }
    HWND filesList() const { return item(IDC_FILES); }
    HWND caption() const { return item(IDC_CAPTION); }
    HWND noUsersLabel() const { return item(IDC_NO_USERS); }
    SplitterBar& splitter() { return m_splitter; }
    bool trayIconAdded() const { return m_trayAdded; }
    // The icon resource the tray shows now (129 or 130).
    int trayIcon() const { return m_trayIcon; }
    bool flashing() const { return m_flashing; }
    HMENU menus() const { return m_menus; }
    bool ended() const { return m_ended; }
    const std::vector<int>& fileImageSources() const { return m_fileImages; }
    ListColumns& sessionColumns() { return m_sessionColumns; }
    // The row of the sessions list that shows row `monitorRow` of the face's table, and back.
    std::optional<int> viewRow(std::optional<int> monitorRow) const;
    std::optional<int> monitorRow(std::optional<int> viewRow) const;
    // The windows of every user's open files and of the shares, once opened.
    OpenFilesWindow* openFilesWindow() const { return m_openFilesWindow.get(); }
    SharesWindow* sharesWindow() const { return m_sharesWindow.get(); }
    std::string trayTip() const { return m_trayTip; }
    // The sessions list's tooltip over row `viewRow` of the list (none: off the rows).
    std::string sessionsTipText(std::optional<int> viewRow) const;

private:
    // Dialog
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;

    // FaceListener
    void sessionsTableChanged() override;
    void openFilesTableChanged() override;
    void captionChanged() override;
    void startFlash() override;
    void pollTimerTick() override;
    void pollApplied() override;
    void filesApplied() override { }
    void newUserArrived(bool beep, bool popup) override;

    void setUpTables();
    void setUpTooltips();
    void setUpTray();
    void addTrayIcon();
    void removeTrayIcon();
    void setTrayTip(std::string tip);
    void setUpMenus();
    void setUpButtons();
    void setUpAnimation();
    void setTrayIcon(int id);
    void flashTick();
    void updateNoUsersLabel();
    void showFromTray();
    void hideAnimated();
    void hideNow();
    void layoutTables();
    bool onNotify(const NMHDR& header, LRESULT& answer);
    void openContextMenu(int popup, HWND table, POINT screen);
    void remoteServerCommand();
    void showHistory(bool fromButton);
    void showOptions();
    void showAbout();
    void openHelp();
    void exitProgram();
    std::optional<int> rowUnder(POINT screen) const;
    void showOpenFilesWindow();
    void showSharesWindow();
    // The detail windows and the tray's counts follow the published snapshot.
    void showSnapshot();
    // Every user's files are listed with each poll only while a detail window is up.
    void updateAllFilesListing();

    MonitorFace& m_face;
    MonitorDialogDeps m_deps;
    LayoutFile m_layout;
    std::unique_ptr<DesktopShell> m_ownShell;
    std::vector<std::function<void()>> m_exitSteps;

    HMENU m_menus = nullptr;
    std::vector<HBITMAP> m_menuBitmaps;
    HICON m_folderIcon = nullptr;
    HICON m_fileIcon = nullptr;
    HICON m_trayIcons[2] = {};
    HIMAGELIST m_sessionImages = nullptr;
    HIMAGELIST m_fileRowImages = nullptr;
    HIMAGELIST m_sessionHeaderImages = nullptr;
    HIMAGELIST m_fileHeaderImages = nullptr;
    HMODULE m_shell32 = nullptr;
    HBRUSH m_tableBrush = nullptr;
    SplitterBar m_splitter{100, 50};
    RECT m_sessionsHome{};
    RECT m_filesHome{};
    std::vector<int> m_fileImages;  // per image of the files' list: 0 folder, 1 default, 2 the shell's

    bool m_trayAdded = false;
    int m_trayIcon = 0;
    bool m_flashing = false;
    bool m_flashPhase = false;
    bool m_tickPoll = false;
    bool m_syncing = false;
    bool m_sliding = false;
    bool m_ended = false;
    MenuTarget m_menuTarget;
    ListColumns m_sessionColumns;
    std::unique_ptr<OpenFilesWindow> m_openFilesWindow;
    std::unique_ptr<SharesWindow> m_sharesWindow;
    bool m_openFilesShown = false;
    bool m_sharesShown = false;
    std::string m_trayTip = "Vantor";
    HWND m_tooltips = nullptr;
    std::optional<int> m_tipRow;
    std::wstring m_tipText;
};

}  // namespace vantor::win
