// The two tables of the main window: their columns and pictures, their rows from the face's tables,
// the sessions list's tooltip, their clicks, and the windows beside it that list every user's files
// and the shares.

#include "win/MonitorDialog.h"

#include "monitor/DetailsText.h"

#include <shellapi.h>

#include <algorithm>

namespace vantor::win {

namespace {

const char* const sessionsTip = "Current sessions. Right click mouse to open context menu";

}  // namespace

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

void MonitorDialog::setUpTooltips()
{
    HWND w = hwnd();
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
}

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

// --- the windows beside it ----------------------------------------------------------------------

void MonitorDialog::showSnapshot()
{
    const SessionsSnapshotPtr snap = m_face.snapshot();
    if (!snap)
        return;
    setTrayTip("Vantor: " + countsText(*snap));
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

}  // namespace vantor::win
