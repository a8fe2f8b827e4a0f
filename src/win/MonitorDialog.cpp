#include "win/MonitorDialog.h"

#include "monitor/DetailsText.h"
#include "platform/Paths.h"
#include "platform/netapi/ShellExplorer.h"
#include "win/HistoryDialog.h"
#include "win/SmallDialogs.h"

#include <shellapi.h>

#include <algorithm>
#include <map>

namespace vantor::win {

namespace {

const COLORREF tableColour = RGB(207, 231, 255);
const COLORREF noUsersColour = RGB(50, 0, 225);
constexpr int dragEdge = 30;
const char* const sessionsTip = "Current sessions. Right click mouse to open context menu";

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

RECT childRect(HWND parent, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

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

// Wine's shell library has no small clip at 151 (its animations there are the large ones of its
// file dialogs, of which the control would show a meaningless middle).
bool runningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

NOTIFYICONDATAW trayData(HWND window)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    return data;
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

    m_tooltips = addTooltips(w, {{IDC_REMOTE_SERVER, "Connect to a remote server..."},
                                 {IDC_SESSIONS, sessionsTip},
                                 {IDC_HELP_BUTTON, "Help"},
                                 {IDC_HIDE, "Hide the dialog"},
                                 {IDC_HISTORY_BUTTON, "Show sessions history"},
                                 {IDC_FILES, "Opened files list. Right click mouse to open context menu"},
                                 {IDC_OPEN_FILES_BUTTON, "Show every user's open files"},
                                 {IDC_SHARES_BUTTON, "Show the shares in use"}});
    // Over a row the sessions list's tooltip tells that session's details, elsewhere what the
    // list is: its text is asked for each time it shows (sessionsTipText).
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = w;
    tool.uId = reinterpret_cast<UINT_PTR>(sessionsList());
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(m_tooltips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tooltips, TTM_SETMAXTIPWIDTH, 0, 500);
    SetFocus(item(IDC_HIDE));
    return false;  // the focus is set
}

void MonitorDialog::setUpTables()
{
    HWND sessions = sessionsList();
    list::setFullRow(sessions);
    // User, computer and open files always show; of the details, the ids are for the few who ask.
    std::vector<ListColumns::Column> columns = {
        {"User", 150, true}, {"Computer", 150, true}, {"# Open files", 100, true}};
    constexpr int detailWidths[sessionDetailColumnCount] = {140, 110, 80, 120, 100, 80, 90, 70, 60};
    for (int c = 0; c < sessionDetailColumnCount; ++c) {
        const auto detail = static_cast<SessionDetailColumn>(c);
        columns.push_back({sessionDetailTitle(detail), detailWidths[c], false,
                           detail == SessionDetailColumn::ProcessId || detail == SessionDetailColumn::Uid});
    }
    m_sessionColumns.setUp(sessions, std::move(columns), m_layout, "sessions");
    m_sessionImages = bitmapList(16, {IDB_USER}, {RGB(255, 255, 255)});
    ListView_SetImageList(sessions, m_sessionImages, LVSIL_SMALL);
    m_sessionHeaderImages = bitmapList(13, {IDB_HEADER_USER, IDB_HEADER_COMPUTER}, {RGB(255, 255, 255)});
    Header_SetImageList(ListView_GetHeader(sessions), m_sessionHeaderImages);
    list::setHeaderImage(sessions, 0, 0);
    list::setHeaderImage(sessions, 1, 1);

    HWND files = filesList();
    list::addColumn(files, 0, "Files", 450);
    m_folderIcon = icon(IDI_FOLDER, 16);
    m_fileIcon = icon(IDI_FILE, 16);
    m_fileRowImages = ImageList_Create(16, 16, ILC_COLOR8 | ILC_MASK, 2, 8);
    ImageList_SetBkColor(m_fileRowImages, GetSysColor(COLOR_BTNFACE));
    ImageList_AddIcon(m_fileRowImages, m_folderIcon);
    ImageList_AddIcon(m_fileRowImages, m_fileIcon);
    ListView_SetImageList(files, m_fileRowImages, LVSIL_SMALL);
    m_fileHeaderImages = bitmapList(13, {IDB_HEADER_FILES}, {RGB(255, 0, 0)});
    Header_SetImageList(ListView_GetHeader(files), m_fileHeaderImages);
    list::setHeaderImage(files, 0, 0);
}

void MonitorDialog::setUpTray()
{
    m_trayIcons[0] = icon(IDI_TRAY, GetSystemMetrics(SM_CXSMICON));
    m_trayIcons[1] = icon(IDI_TRAY_USER, GetSystemMetrics(SM_CXSMICON));
    m_trayIcon = IDI_TRAY;
    addTrayIcon();
}

void MonitorDialog::addTrayIcon()
{
    NOTIFYICONDATAW data = trayData(hwnd());
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    data.hIcon = m_trayIcons[m_trayIcon == IDI_TRAY_USER ? 1 : 0];
    const std::wstring tip = wide(m_trayTip).substr(0, std::size(data.szTip) - 1);
    std::copy(tip.begin(), tip.end(), data.szTip);
    m_trayAdded = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

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

// --- the face's news ----------------------------------------------------------------------------

void MonitorDialog::sessionsTableChanged()
{
    HWND view = sessionsList();
    m_syncing = true;
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(view);
    const auto& rows = m_face.sessionRows();
    const int64_t now = m_face.now();
    // In the face's order, or in that of the clicked column; each row's item data is its row of
    // the face's table.
    std::vector<std::size_t> order;
    if (auto column = m_sessionColumns.sortColumn())
        order = sessionRowOrder(rows, *column, m_sessionColumns.descending(), now);
    else
        for (std::size_t i = 0; i < rows.size(); ++i)
            order.push_back(i);
    for (std::size_t r = 0; r < order.size(); ++r) {
        const SessionEntry& e = rows[order[r]];
        const int row = list::insertRow(view, static_cast<int>(r), e.user, 0, static_cast<LPARAM>(order[r]));
        list::setCell(view, row, 1, e.computer);
        list::setCell(view, row, 2, std::to_string(e.openFiles));
        for (int c = 0; c < sessionDetailColumnCount; ++c)
            list::setCell(view, row, 3 + c, sessionDetailText(e.details, static_cast<SessionDetailColumn>(c), now));
    }
    list::select(view, viewRow(m_face.selectedSessionRow()));
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
    m_syncing = false;
    showSnapshot();
}

std::optional<int> MonitorDialog::rowUnder(POINT screen) const
{
    LVHITTESTINFO hit{};
    hit.pt = screen;
    ScreenToClient(sessionsList(), &hit.pt);
    const int row = ListView_HitTest(sessionsList(), &hit);
    return row < 0 ? std::nullopt : std::optional<int>(row);
}

std::string MonitorDialog::sessionsTipText(std::optional<int> viewRow) const
{
    const std::optional<int> row = monitorRow(viewRow);
    const auto& rows = m_face.sessionRows();
    if (!row || *row >= static_cast<int>(rows.size()))
        return sessionsTip;
    return sessionTooltip(rows[static_cast<std::size_t>(*row)], m_face.now());
}

std::optional<int> MonitorDialog::viewRow(std::optional<int> monitorRow) const
{
    if (!monitorRow)
        return std::nullopt;
    HWND view = sessionsList();
    for (int r = 0; r < list::rowCount(view); ++r)
        if (list::data(view, r) == *monitorRow)
            return r;
    return std::nullopt;
}

std::optional<int> MonitorDialog::monitorRow(std::optional<int> viewRow) const
{
    if (!viewRow || *viewRow < 0 || *viewRow >= list::rowCount(sessionsList()))
        return std::nullopt;
    return static_cast<int>(list::data(sessionsList(), *viewRow));
}

void MonitorDialog::showSnapshot()
{
    const SessionsSnapshotPtr snap = m_face.snapshot();
    if (!snap)
        return;
    m_trayTip = "Vantor: " + countsText(*snap);
    if (m_trayAdded) {
        NOTIFYICONDATAW data = trayData(hwnd());
        data.uFlags = NIF_TIP;
        const std::wstring tip = wide(m_trayTip).substr(0, std::size(data.szTip) - 1);
        std::copy(tip.begin(), tip.end(), data.szTip);
        Shell_NotifyIconW(NIM_MODIFY, &data);
    }
    if (m_openFilesWindow && m_openFilesShown)
        m_openFilesWindow->setSnapshot(*snap);
    if (m_sharesWindow && m_sharesShown)
        m_sharesWindow->setSnapshot(*snap);
}

void MonitorDialog::updateAllFilesListing()
{
    // Listing every user's files may cost the service a second call per poll: only while a window
    // shows them.
    const bool wanted = m_openFilesShown || m_sharesShown;
    if (wanted == m_face.listAllFiles())
        return;
    m_face.setListAllFiles(wanted);
    if (wanted)
        m_face.poll();
}

void MonitorDialog::showOpenFilesWindow()
{
    if (!m_openFilesWindow) {
        m_openFilesWindow =
            std::make_unique<OpenFilesWindow>([this](const NetFileInfo& f) { m_face.closeListedFile(f); }, m_layout);
        m_openFilesWindow->onShownChanged = [this](bool shown) {
            m_openFilesShown = shown;
            updateAllFilesListing();
        };
        if (!m_openFilesWindow->create(hwnd())) {
            m_openFilesWindow.reset();
            return;
        }
    }
    if (const SessionsSnapshotPtr snap = m_face.snapshot())
        m_openFilesWindow->setSnapshot(*snap);
    ShowWindow(m_openFilesWindow->hwnd(), SW_SHOW);
    SetForegroundWindow(m_openFilesWindow->hwnd());
}

void MonitorDialog::showSharesWindow()
{
    if (!m_sharesWindow) {
        m_sharesWindow = std::make_unique<SharesWindow>(m_layout);
        m_sharesWindow->onShownChanged = [this](bool shown) {
            m_sharesShown = shown;
            updateAllFilesListing();
        };
        if (!m_sharesWindow->create(hwnd())) {
            m_sharesWindow.reset();
            return;
        }
    }
    if (const SessionsSnapshotPtr snap = m_face.snapshot())
        m_sharesWindow->setSnapshot(*snap);
    ShowWindow(m_sharesWindow->hwnd(), SW_SHOW);
    SetForegroundWindow(m_sharesWindow->hwnd());
}

void MonitorDialog::openFilesTableChanged()
{
    HWND view = filesList();
    m_syncing = true;
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(view);
    ImageList_RemoveAll(m_fileRowImages);
    m_fileImages.clear();
    const auto& rows = m_face.openFileRows();
    // Image i is the i-th file of the enumeration, as the rows number them.
    std::vector<std::size_t> byEnumeration(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        byEnumeration[i] = i;
    std::stable_sort(byEnumeration.begin(), byEnumeration.end(),
                     [&](std::size_t a, std::size_t b) { return rows[a].imageIndex < rows[b].imageIndex; });
    std::vector<int> imageOfRow(rows.size());
    for (std::size_t rank = 0; rank < byEnumeration.size(); ++rank) {
        const OpenFileRow& row = rows[byEnumeration[rank]];
        HICON picture = row.icon == FileIconKind::Folder ? m_folderIcon : nullptr;
        int source = 0;
        if (!picture) {
            SHFILEINFOW info{};
            if (SHGetFileInfoW(wide(row.path).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                               SHGFI_ICON | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES)
                && info.hIcon) {
                ImageList_AddIcon(m_fileRowImages, info.hIcon);
                DestroyIcon(info.hIcon);
                source = 2;
            } else {
                picture = m_fileIcon;
                source = 1;
            }
        }
        if (picture)
            ImageList_AddIcon(m_fileRowImages, picture);
        m_fileImages.push_back(source);
        imageOfRow[byEnumeration[rank]] = static_cast<int>(rank);
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        list::insertRow(view, static_cast<int>(i), rows[i].path, imageOfRow[i], static_cast<LPARAM>(rows[i].id));
    list::select(view, m_face.selectedFileRow());
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
    m_syncing = false;
}

void MonitorDialog::captionChanged()
{
    setWindowText(caption(), m_face.captionText());
}

void MonitorDialog::startFlash()
{
    // A second start restarts the period, as SetTimer does with the same id.
    if (m_face.mainVisible())
        return;
    SetTimer(hwnd(), TIMER_FLASH, m_deps.flashIntervalMs, nullptr);
    m_flashing = true;
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

void MonitorDialog::newUserArrived(bool beep, bool popup)
{
    if (beep) {
        if (m_deps.beep)
            m_deps.beep();
        else
            MessageBeep(MB_OK);
    }
    if (popup)
        showFromTray();
}

void MonitorDialog::flashTick()
{
    setTrayIcon(m_flashPhase ? IDI_TRAY_USER : IDI_TRAY);
    m_flashPhase = !m_flashPhase;
}

void MonitorDialog::setTrayIcon(int id)
{
    m_trayIcon = id;
    if (!m_trayAdded)
        return;
    NOTIFYICONDATAW data = trayData(hwnd());
    data.uFlags = NIF_ICON;
    data.hIcon = m_trayIcons[id == IDI_TRAY_USER ? 1 : 0];
    Shell_NotifyIconW(NIM_MODIFY, &data);
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

// --- showing and hiding -------------------------------------------------------------------------

void MonitorDialog::showFromTray()
{
    KillTimer(hwnd(), TIMER_FLASH);
    m_flashing = false;
    setTrayIcon(IDI_TRAY);
    ShowWindow(hwnd(), IsIconic(hwnd()) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd());
    m_face.setMainVisible(true);
}

void MonitorDialog::hideAnimated()
{
    if (m_sliding)
        return;
    if (!m_deps.animations || !m_trayAdded) {
        hideNow();
        return;
    }
    m_sliding = true;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(hwnd(), &placement);
    RECT before;
    GetWindowRect(hwnd(), &before);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    for (int y = placement.rcNormalPosition.top; y < screenHeight; y += 30) {
        SetWindowPos(hwnd(), nullptr, placement.rcNormalPosition.left, y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        UpdateWindow(hwnd());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(15);
    }
    hideNow();
    SetWindowPos(hwnd(), nullptr, before.left, before.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    m_sliding = false;
}

void MonitorDialog::hideNow()
{
    // Without a tray icon a hidden window could never come back: it is minimised instead.
    if (!m_trayAdded) {
        ShowWindow(hwnd(), SW_MINIMIZE);
        return;
    }
    ShowWindow(hwnd(), SW_HIDE);
    m_face.setMainVisible(false);
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
        if (m_trayAdded) {
            NOTIFYICONDATAW data = trayData(hwnd());
            Shell_NotifyIconW(NIM_DELETE, &data);
            m_trayAdded = false;
        }
        KillTimer(hwnd(), TIMER_FLASH);
        return false;
    default:
        return false;
    }
}

bool MonitorDialog::onNotify(const NMHDR& header, LRESULT& answer)
{
    answer = 0;
    if (m_sessionColumns.refuse(header, answer))
        return true;
    if (header.hwndFrom == m_tooltips && header.code == TTN_GETDISPINFOW
        && header.idFrom == reinterpret_cast<UINT_PTR>(sessionsList())) {
        auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        POINT p;
        GetCursorPos(&p);
        m_tipRow = rowUnder(p);
        m_tipText = wide(sessionsTipText(m_tipRow));
        info.lpszText = m_tipText.data();
        info.hinst = nullptr;
        return true;
    }
    if (header.idFrom == IDC_SESSIONS) {
        if (header.code == NM_CLICK) {
            m_face.selectSessionRow(monitorRow(list::selected(sessionsList())));
            m_face.refreshOpenFiles();
            return true;
        }
        if (header.code == LVN_ITEMCHANGED && !m_syncing) {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
                m_face.selectSessionRow(monitorRow(list::selected(sessionsList())));
            return true;
        }
        if (header.code == LVN_COLUMNCLICK) {
            m_sessionColumns.clickTitle(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
            sessionsTableChanged();
            return true;
        }
    } else if (header.idFrom == IDC_FILES) {
        if (header.code == LVN_ITEMCHANGED && !m_syncing) {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
                m_face.selectFileRow(list::selected(filesList()));
            return true;
        }
    }
    return false;
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
    if (m_trayAdded) {
        NOTIFYICONDATAW data = trayData(hwnd());
        Shell_NotifyIconW(NIM_DELETE, &data);
        m_trayAdded = false;
    }
    for (auto& step : m_exitSteps)
        step();
    m_face.waitForWorker();
    m_ended = true;
    end(IDOK);
}

}  // namespace vantor::win
