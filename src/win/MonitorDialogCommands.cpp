// The main window's menus and the commands of its menus, buttons and tray.

#include "win/MonitorDialog.h"

#include "platform/Paths.h"
#include "win/HistoryDialog.h"
#include "win/SmallDialogs.h"

#include <shellapi.h>

namespace vantor::win {

namespace {

// The pictures of the menus' items, by position in each pop-up: the sessions menu, the files
// menu, the tray menu.
struct MenuPicture {
    int popup;
    int position;
    int bitmap;
};
constexpr MenuPicture menuPictures[] = {
    {0, 0, IDB_MENU_CLOSE_SESSION}, {0, 1, IDB_MENU_CLOSE_ALL},    {0, 3, IDB_MENU_CONNECT},
    {0, 5, IDB_MENU_BLACK_LIST},    {0, 6, IDB_MENU_WHITE_LIST},   {1, 0, IDB_MENU_CLOSE_RESOURCE},
    {1, 2, IDB_MENU_OPEN_FOLDER},   {2, 1, IDB_MENU_SHOW_HISTORY}, {2, 2, IDB_MENU_CLEAR_HISTORY},
    {2, 3, IDB_MENU_OPTIONS},
};

// A menu picture drawn over light grey, that grey turned into the menu's own colour.
HBITMAP menuBitmap(int id)
{
    auto* bitmap =
        static_cast<HBITMAP>(LoadImageW(resources(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (!bitmap || GetObjectW(bitmap, sizeof(dib), &dib) != sizeof(dib) || dib.dsBm.bmBitsPixel != 24)
        return bitmap;
    const COLORREF menu = GetSysColor(COLOR_MENU);
    auto* row = static_cast<BYTE*>(dib.dsBm.bmBits);
    for (int y = 0; y < dib.dsBm.bmHeight; ++y, row += dib.dsBm.bmWidthBytes)
        for (int x = 0; x < dib.dsBm.bmWidth; ++x) {
            BYTE* px = row + 3 * x;  // blue, green, red
            if (px[0] == 0xC0 && px[1] == 0xC0 && px[2] == 0xC0) {
                px[0] = GetBValue(menu);
                px[1] = GetGValue(menu);
                px[2] = GetRValue(menu);
            }
        }
    return bitmap;
}

}  // namespace

void MonitorDialog::setUpMenus()
{
    m_menus = LoadMenuW(resources(), MAKEINTRESOURCEW(IDR_MENUS));
    for (const MenuPicture& p : menuPictures) {
        HBITMAP bitmap = menuBitmap(p.bitmap);
        if (!bitmap)
            continue;
        m_menuBitmaps.push_back(bitmap);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = bitmap;
        SetMenuItemInfoW(GetSubMenu(m_menus, p.popup), static_cast<UINT>(p.position), TRUE, &info);
    }
    SetMenuDefaultItem(GetSubMenu(m_menus, 2), IDM_MAIN_DIALOG, FALSE);
}

void MonitorDialog::openContextMenu(int popup, HWND, POINT screen)
{
    // A poll may rebuild the tables while the menu is open: its command acts on what the menu was
    // opened on.
    m_menuTarget = m_face.menuTarget();
    SetForegroundWindow(hwnd());
    const int command = TrackPopupMenu(GetSubMenu(m_menus, popup), TPM_RIGHTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                       screen.x, screen.y, 0, hwnd(), nullptr);
    PostMessageW(hwnd(), WM_NULL, 0, 0);
    if (command)
        runCommand(command, popup == 2 ? nullptr : &m_menuTarget);
}

// --- commands -----------------------------------------------------------------------------------

void MonitorDialog::runCommand(int command, const MenuTarget* menu)
{
    MonitorFace& f = m_face;
    switch (command) {
    case IDM_CLOSE_SESSION:
        f.closeSession(menu);
        break;
    case IDM_CLOSE_ALL_SESSIONS:
        f.closeAllSessions();
        break;
    case IDM_CONNECT_TO_USER:
        if (auto target = f.connectToUserTarget(menu))
            m_deps.shell->exploreComputer(target->location, hwnd());
        break;
    case IDM_CLOSE_RESOURCE:
        f.closeResource(menu);
        break;
    case IDM_OPEN_FOLDER:
        if (auto target = f.openFolderTarget(menu))
            m_deps.shell->exploreFolder(target->location, hwnd());
        break;
    case IDM_BLACK_USER:
        f.addToList(ListKind::Black, ListTarget::User, menu);
        break;
    case IDM_BLACK_COMPUTER:
        f.addToList(ListKind::Black, ListTarget::Computer, menu);
        break;
    case IDM_BLACK_BOTH:
        f.addToList(ListKind::Black, ListTarget::Both, menu);
        break;
    case IDM_WHITE_USER:
        f.addToList(ListKind::White, ListTarget::User, menu);
        break;
    case IDM_WHITE_COMPUTER:
        f.addToList(ListKind::White, ListTarget::Computer, menu);
        break;
    case IDM_WHITE_BOTH:
        f.addToList(ListKind::White, ListTarget::Both, menu);
        break;
    case IDM_MAIN_DIALOG:
        showFromTray();
        break;
    case IDM_SHOW_HISTORY:
        showHistory(false);
        break;
    case IDM_CLEAR_HISTORY:
        f.clearHistory();
        break;
    case IDM_OPTIONS:
        showOptions();
        break;
    case IDM_ABOUT:
        showAbout();
        break;
    case IDM_EXIT:
        exitProgram();
        break;
    case IDM_OPEN_FILES_WINDOW:
        showOpenFilesWindow();
        break;
    case IDM_SHARES_WINDOW:
        showSharesWindow();
        break;
    default:
        break;
    }
}

void MonitorDialog::remoteServerCommand()
{
    ServerInputDialog input;
    if (input.runModal(hwnd()) == IDOK)
        m_face.setRemoteServer(input.text());
}

void MonitorDialog::showHistory(bool fromButton)
{
    std::unique_ptr<HistorySource> source = m_face.historySource();
    // Only the button hands the report path over; opened from the tray the window has none.
    const std::string reportPath = fromButton ? source->reportPath() : std::string();
    HistoryDialog history(std::move(source), m_face.boxes(), reportPath);
    history.runModal(hwnd());
}

void MonitorDialog::showOptions()
{
    OptionsDeps deps = m_deps.options;
    if (auto mail = m_face.testMail())
        deps.sendTestMail = [mail](const MailRelay&, const std::string&, MessageBoxes&, void* owner) { mail(owner); };
    m_face.editOptions(
        [this, &deps](const OptionsValue& values) { return runOptionsWindow(values, m_face.boxes(), hwnd(), deps); });
}

void MonitorDialog::showAbout()
{
    if (m_deps.about) {
        m_deps.about(hwnd());
        return;
    }
    AboutBox about;
    about.runModal(hwnd());
}

void MonitorDialog::openHelp()
{
    if (m_deps.openHelp) {
        m_deps.openHelp(hwnd());
        return;
    }
    const std::filesystem::path page = executableDirectory() / "vantor_help.html";
    std::error_code ec;
    if (!std::filesystem::exists(page, ec)) {
        m_face.boxes().show({"Vantor", "The help page " + textFromPath(page) + " is missing: install Vantor again.",
                             BoxIcon::Warning, BoxButtons::Ok, hwnd()});
        return;
    }
    ShellExecuteW(hwnd(), L"open", page.wstring().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void MonitorDialog::exitProgram()
{
    m_face.stop();
    for (Dialog* window : {static_cast<Dialog*>(m_openFilesWindow.get()), static_cast<Dialog*>(m_sharesWindow.get())})
        if (window && window->hwnd())
            ShowWindow(window->hwnd(), SW_HIDE);
    removeTrayIcon();
    for (auto& step : m_exitSteps)
        step();
    m_face.waitForWorker();
    m_ended = true;
    end(IDOK);
}

}  // namespace vantor::win
