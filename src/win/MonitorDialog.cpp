// The main window made and laid out, its messages, and what the face tells it besides the tables.
// Its tables are in MonitorDialogTables.cpp, its menus and commands in MonitorDialogCommands.cpp, its
// tray icon in MonitorDialogTray.cpp.

#include "win/MonitorDialog.h"

#include "platform/netapi/ShellExplorer.h"

namespace vantor::win {

namespace {

const COLORREF tableColour = RGB(207, 231, 255);
const COLORREF noUsersColour = RGB(50, 0, 225);
constexpr int dragEdge = 30;

RECT childRect(HWND parent, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Wine's shell library has no small clip at 151 (its animations there are the large ones of its
// file dialogs, of which the control would show a meaningless middle).
bool runningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

MonitorDialog::MonitorDialog(MonitorFace& face, MonitorDialogDeps deps)
    : Dialog(IDD_MAIN)
    , m_face(face)
    , m_deps(std::move(deps))
    , m_layout(m_deps.layoutFile)
{
    if (!m_deps.shell) {
        m_ownShell = std::make_unique<windows::ShellExplorer>();
        m_deps.shell = m_ownShell.get();
    }
    m_face.setListener(this);
}

MonitorDialog::~MonitorDialog()
{
    for (auto* shown : {m_openFilesWindow ? &m_openFilesWindow->onShownChanged : nullptr,
                        m_sharesWindow ? &m_sharesWindow->onShownChanged : nullptr})
        if (shown)
            *shown = {};
    m_face.stop();
    m_face.setListener(nullptr);
    m_face.waitForWorker();
    if (hwnd())
        DestroyWindow(hwnd());
    for (HBITMAP b : m_menuBitmaps)
        DeleteObject(b);
    if (m_menus)
        DestroyMenu(m_menus);
    for (HIMAGELIST list : {m_sessionHeaderImages, m_fileHeaderImages})
        if (list)
            ImageList_Destroy(list);
    for (HICON i : {m_folderIcon, m_fileIcon, m_trayIcons[0], m_trayIcons[1]})
        if (i)
            DestroyIcon(i);
    if (m_tableBrush)
        DeleteObject(m_tableBrush);
    if (m_shell32)
        FreeLibrary(m_shell32);
}

int MonitorDialog::run()
{
    if (!create(nullptr))
        return -1;
    MSG msg;
    while (!m_ended) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        if (!translateDialogKeys(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}

bool MonitorDialog::translateDialogKeys(MSG& msg)
{
    // IsDialogMessage takes only the messages of that window and its controls.
    for (HWND w : {hwnd(), m_openFilesWindow ? m_openFilesWindow->hwnd() : nullptr,
                   m_sharesWindow ? m_sharesWindow->hwnd() : nullptr})
        if (w && IsDialogMessageW(w, &msg))
            return true;
    return false;
}

// --- initialisation -----------------------------------------------------------------------------

bool MonitorDialog::onInit()
{
    HWND w = hwnd();
    m_tableBrush = CreateSolidBrush(tableColour);
    list::setColours(sessionsList(), tableColour);
    list::setColours(filesList(), tableColour);
    setWindowText(w, "Vantor" + m_deps.titleSuffix);

    HMENU system = GetSystemMenu(w, FALSE);
    wchar_t aboutItem[64] = L"&About Vantor...";
    LoadStringW(resources(), IDS_ABOUT_ITEM, aboutItem, 64);
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, IDM_ABOUT_SYSTEM, aboutItem);

    SendMessageW(w, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon(IDI_VANTOR, GetSystemMetrics(SM_CXICON))));
    SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon(IDI_VANTOR, GetSystemMetrics(SM_CXSMICON))));

    m_face.setMainVisible(true);
    setUpTables();
    setUpTray();
    setUpMenus();
    // The engine: settings, console agent, lists, the first poll and the poll timer.
    m_face.start();
    captionChanged();
    setUpButtons();
    setUpAnimation();

    m_sessionsHome = childRect(w, sessionsList());
    m_filesHome = childRect(w, filesList());
    m_splitter.create(w, IDC_SPLITTER, childRect(w, item(IDC_SPLITTER)), 5, 5);

    setUpTooltips();
    SetFocus(item(IDC_HIDE));
    return false;  // the focus is set
}

void MonitorDialog::setUpButtons()
{
    const std::pair<int, int> buttons[] = {{IDC_HELP_BUTTON, IDI_HELP},       {IDC_HIDE, IDI_HIDE},
                                           {IDC_REMOTE_SERVER, IDI_REMOTE},   {IDC_HISTORY_BUTTON, IDI_HISTORY},
                                           {IDC_OPEN_FILES_BUTTON, IDI_FILE}, {IDC_SHARES_BUTTON, IDI_FOLDER}};
    for (auto [id, picture] : buttons)
        SendMessageW(item(id), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon(picture, 16)));
}

void MonitorDialog::setUpAnimation()
{
    m_shell32 = LoadLibraryW(L"shell32.dll");
    if (!m_shell32) {
        m_face.boxes().show({"Vantor", "Can't load shell32.dll!", BoxIcon::Error, BoxButtons::Ok, hwnd()});
        return;
    }
    HWND clip = item(IDC_ANIMATION);
    if (!runningOnWine()
        && SendMessageW(clip, ACM_OPENW, reinterpret_cast<WPARAM>(m_shell32),
                        reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(151)))) {
        ShowWindow(clip, SW_SHOW);
        SendMessageW(clip, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
    } else {
        ShowWindow(clip, SW_HIDE);
    }
}

void MonitorDialog::layoutTables()
{
    const int offset = m_splitter.offset();
    const RECT& s = m_sessionsHome;
    const RECT& f = m_filesHome;
    MoveWindow(sessionsList(), s.left, s.top, s.right - s.left, s.bottom - s.top + offset, TRUE);
    MoveWindow(filesList(), f.left, f.top + offset, f.right - f.left, f.bottom - f.top - offset, TRUE);
    InvalidateRect(filesList(), nullptr, TRUE);
}

// --- the face's news ----------------------------------------------------------------------------
void MonitorDialog::captionChanged()
{
    setWindowText(caption(), m_face.captionText());
}

void MonitorDialog::pollTimerTick()
{
    // Dropped while a poll is under way, its error box included: polls never nest.
    m_tickPoll = true;
    if (!m_face.poll())
        m_tickPoll = false;
    updateNoUsersLabel();
}

void MonitorDialog::pollApplied()
{
    // The tick's label update belongs after its poll, which ends here when it ran on the worker.
    if (m_tickPoll || !m_face.pollTimerActive())
        updateNoUsersLabel();
    m_tickPoll = false;
}

void MonitorDialog::updateNoUsersLabel()
{
    HWND label = noUsersLabel();
    if (list::rowCount(sessionsList()) == 0) {
        SetWindowPos(label, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
        InvalidateRect(label, nullptr, TRUE);
    } else {
        ShowWindow(label, SW_HIDE);
    }
}

// --- messages -----------------------------------------------------------------------------------
bool MonitorDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer)
{
    // A shell that starts again (Explorer restarted) has forgotten every tray icon.
    static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    if (message == taskbarCreated && taskbarCreated) {
        if (!m_ended)
            addTrayIcon();
        return true;
    }
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        switch (id) {
        case IDOK:
        case IDCANCEL:
            return true;  // Enter and Escape do nothing here
        case IDC_HIDE:
            hideAnimated();
            return true;
        case IDC_REMOTE_SERVER:
            remoteServerCommand();
            return true;
        case IDC_HISTORY_BUTTON:
            showHistory(true);
            return true;
        case IDC_HELP_BUTTON:
            openHelp();
            return true;
        case IDC_OPEN_FILES_BUTTON:
            runCommand(IDM_OPEN_FILES_WINDOW);
            return true;
        case IDC_SHARES_BUTTON:
            runCommand(IDM_SHARES_WINDOW);
            return true;
        case IDC_SPLITTER:
            if (code == SplitterBar::movedCode)
                layoutTables();
            return true;
        default:
            if (id >= IDM_CLOSE_SESSION) {
                runCommand(id);
                return true;
            }
            return false;
        }
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUT_SYSTEM) {
            showAbout();
            return true;
        }
        return false;
    case WM_CLOSE:
        hideNow();
        return true;
    case WM_TIMER:
        if (wParam == TIMER_FLASH)
            flashTick();
        updateNoUsersLabel();
        return true;
    case WM_TRAY_CALLBACK:
        if (lParam == WM_LBUTTONDOWN) {
            showFromTray();
        } else if (lParam == WM_RBUTTONDOWN) {
            POINT p;
            GetCursorPos(&p);
            openContextMenu(2, nullptr, p);
        }
        return true;
    case WM_CONTEXTMENU: {
        HWND from = reinterpret_cast<HWND>(wParam);
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (p.x == -1 && p.y == -1)
            GetCursorPos(&p);
        if (from == sessionsList() && m_sessionColumns.onHeader(p)) {
            m_sessionColumns.headerMenu(hwnd(), p);
            return true;
        }
        openContextMenu(from == sessionsList() ? 0 : 1, from, p);
        return true;
    }
    case WM_NOTIFY:
        return onNotify(*reinterpret_cast<const NMHDR*>(lParam), answer);
    case WM_HELP:
        openHelp();
        return true;
    case WM_LBUTTONDOWN: {
        RECT client;
        GetClientRect(hwnd(), &client);
        const int y = static_cast<short>(HIWORD(lParam));
        if (y < dragEdge || y > client.bottom - dragEdge) {
            ReleaseCapture();
            SendMessageW(hwnd(), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
            return true;
        }
        return false;
    }
    case WM_SETCURSOR:
        // The cursor went to another row (or off the rows): the tooltip goes, to come back with
        // that row's text.
        if (reinterpret_cast<HWND>(wParam) == sessionsList() && m_tooltips) {
            POINT p;
            GetCursorPos(&p);
            if (rowUnder(p) != m_tipRow && IsWindowVisible(m_tooltips))
                SendMessageW(m_tooltips, TTM_POP, 0, 0);
        }
        return false;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == noUsersLabel()) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, noUsersColour);
            SetBkMode(dc, TRANSPARENT);
            answer = reinterpret_cast<LRESULT>(m_tableBrush);
            return true;
        }
        return false;
    case WM_DESTROY:
        m_sessionColumns.save();
        removeTrayIcon();
        KillTimer(hwnd(), TIMER_FLASH);
        return false;
    default:
        return false;
    }
}

}  // namespace vantor::win
