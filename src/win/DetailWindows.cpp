#include "win/DetailWindows.h"

#include <windowsx.h>

#include <algorithm>

namespace vantor::win {

namespace {

RECT clientRectOf(HWND dialog, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The row under a point of the screen, if any.
std::optional<int> rowAt(HWND view, POINT screen)
{
    LVHITTESTINFO hit{};
    hit.pt = screen;
    ScreenToClient(view, &hit.pt);
    const int row = ListView_HitTest(view, &hit);
    return row < 0 ? std::nullopt : std::optional<int>(row);
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Copies `text` into a tooltip request's buffer, cut to its size.
void answerInfoTip(NMLVGETINFOTIPW& tip, const std::string& text)
{
    if (!tip.pszText || tip.cchTextMax <= 0)
        return;
    const std::wstring w = wide(text);
    const std::size_t n = std::min<std::size_t>(w.size(), static_cast<std::size_t>(tip.cchTextMax) - 1);
    std::copy_n(w.begin(), n, tip.pszText);
    tip.pszText[n] = L'\0';
}

// The program's icon in the window's caption and task bar button.
void setProgramIcon(HWND window)
{
    for (auto [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
        const int size = GetSystemMetrics(metric);
        HANDLE picture = LoadImageW(resources(), MAKEINTRESOURCEW(IDI_VANTOR), IMAGE_ICON, size, size, LR_SHARED);
        SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(picture));
    }
}

// What both detail windows do with their frame: the close box hides them, hiding keeps their
// columns and place, a new size lays the controls out to the edges, and the least size holds.
struct Frame {
    ListColumns& columns;
    EdgeLayout& layout;
    LayoutFile& kept;
    const char* name;
    const std::function<void(bool shown)>& onShownChanged;
};

bool frameMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const Frame& frame)
{
    switch (message) {
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return true;
    case WM_SHOWWINDOW:
        if (!wParam) {
            frame.columns.save();
            frame.kept.saveWindow(window, frame.name);
        }
        if (frame.onShownChanged)
            frame.onShownChanged(wParam != FALSE);
        return false;
    case WM_SIZE:
        frame.layout.apply(window);
        return true;
    case WM_GETMINMAXINFO:
        if (frame.layout.minimum().cx > 0) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {frame.layout.minimum().cx, frame.layout.minimum().cy};
        }
        return true;
    default:
        return false;
    }
}

}  // namespace

// --- layout -------------------------------------------------------------------------------------

void EdgeLayout::add(HWND dialog, int id, Anchor horizontal, Anchor vertical)
{
    if (m_items.empty()) {
        RECT client;
        GetClientRect(dialog, &client);
        m_client = {client.right, client.bottom};
        RECT window;
        GetWindowRect(dialog, &window);
        m_minimum = {window.right - window.left, window.bottom - window.top};
    }
    m_items.push_back({id, horizontal, vertical, clientRectOf(dialog, GetDlgItem(dialog, id))});
}

void EdgeLayout::apply(HWND dialog) const
{
    if (m_items.empty())
        return;
    RECT client;
    GetClientRect(dialog, &client);
    const int dx = std::max<int>(0, client.right - m_client.cx);
    const int dy = std::max<int>(0, client.bottom - m_client.cy);
    for (const Item& i : m_items) {
        RECT r = i.home;
        if (i.horizontal == Stretch)
            r.right += dx;
        else if (i.horizontal == Right)
            OffsetRect(&r, dx, 0);
        if (i.vertical == Stretch)
            r.bottom += dy;
        else if (i.vertical == Right)
            OffsetRect(&r, 0, dy);
        MoveWindow(GetDlgItem(dialog, i.id), r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
}

// --- the open files of every user ---------------------------------------------------------------

OpenFilesWindow::OpenFilesWindow(std::function<void(const NetFileInfo&)> closeFile, LayoutFile layout)
    : Dialog(IDD_OPEN_FILES)
    , m_closeFile(std::move(closeFile))
    , m_kept(std::move(layout))
{
}

OpenFilesWindow::~OpenFilesWindow()
{
    if (m_menus)
        DestroyMenu(m_menus);
}

bool OpenFilesWindow::onInit()
{
    HWND w = hwnd();
    setProgramIcon(w);
    SendMessageW(filterBox(), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(wide("Filter by file, share, user or computer").c_str()));
    HWND view = listView();
    list::setFullRow(view);
    ListView_SetExtendedListViewStyleEx(view, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
    std::vector<ListColumns::Column> columns;
    for (int c = 0; c < openFileColumnCount; ++c) {
        const auto column = static_cast<OpenFileColumn>(c);
        columns.push_back(
            {openFileTitle(column), column == OpenFileColumn::File ? 220 : 100, column == OpenFileColumn::File, false});
    }
    m_columns.setUp(view, std::move(columns), m_kept, "openFiles");
    m_menus = LoadMenuW(resources(), MAKEINTRESOURCEW(IDR_MENUS));

    m_layout.add(w, IDC_FILES_FILTER, EdgeLayout::Stretch, EdgeLayout::Left);
    m_layout.add(w, IDC_ALL_FILES, EdgeLayout::Stretch, EdgeLayout::Stretch);
    m_layout.add(w, IDC_FILES_STATUS, EdgeLayout::Stretch, EdgeLayout::Right);
    m_layout.add(w, IDC_CLOSE_LISTED_FILE, EdgeLayout::Right, EdgeLayout::Right);
    m_kept.restoreWindow(w, "openFiles");
    rebuild();
    return true;
}

void OpenFilesWindow::setSnapshot(const SessionsSnapshot& snapshot)
{
    // The selection follows the file, not the row index: a poll must not move it to another file.
    m_listed = snapshot.openFilesListed;
    m_error = snapshot.openFilesError;
    const std::optional<std::size_t> before = selectedFile();
    std::optional<std::pair<uint32_t, std::string>> selected;
    if (before)
        selected.emplace(m_files[*before].id, m_files[*before].path);
    m_files = snapshot.openFiles;
    std::optional<std::size_t> again;
    if (selected)
        for (std::size_t i = 0; i < m_files.size() && !again; ++i)
            if (m_files[i].id == selected->first && m_files[i].path == selected->second)
                again = i;
    rebuild();
    if (again) {
        const auto at = std::find(m_rows.begin(), m_rows.end(), *again);
        if (at != m_rows.end())
            list::select(listView(), static_cast<int>(at - m_rows.begin()));
    }
}

std::optional<std::size_t> OpenFilesWindow::selectedFile() const
{
    if (!hwnd())
        return std::nullopt;
    const std::optional<int> row = list::selected(listView());
    if (!row || *row >= static_cast<int>(m_rows.size()))
        return std::nullopt;
    return m_rows[static_cast<std::size_t>(*row)];
}

void OpenFilesWindow::rebuild()
{
    if (!hwnd())
        return;
    const std::optional<std::size_t> selected = selectedFile();
    std::vector<std::size_t> order;
    if (auto column = m_columns.sortColumn())
        order = openFileOrder(m_files, static_cast<OpenFileColumn>(*column), m_columns.descending());
    else
        for (std::size_t i = 0; i < m_files.size(); ++i)
            order.push_back(i);
    m_rows.clear();
    for (std::size_t i : order)
        if (openFileMatches(m_files[i], m_filter))
            m_rows.push_back(i);

    HWND view = listView();
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(view);
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const NetFileInfo& f = m_files[m_rows[r]];
        const int row = list::insertRow(view, static_cast<int>(r), openFileText(f, OpenFileColumn::File), -1);
        for (int c = 1; c < openFileColumnCount; ++c)
            list::setCell(view, row, c, openFileText(f, static_cast<OpenFileColumn>(c)));
    }
    if (selected) {
        const auto at = std::find(m_rows.begin(), m_rows.end(), *selected);
        if (at != m_rows.end())
            list::select(view, static_cast<int>(at - m_rows.begin()));
    }
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
    setItemText(hwnd(), IDC_FILES_STATUS, openFilesStatus(m_listed, m_error, m_rows.size(), m_files.size()));
}

void OpenFilesWindow::closeSelected()
{
    const std::optional<std::size_t> file = selectedFile();
    m_closeFile(file ? m_files[*file] : NetFileInfo{});
}

bool OpenFilesWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILES_FILTER:
            if (HIWORD(wParam) == EN_CHANGE) {
                m_filter = trimmed(windowText(filterBox()));
                rebuild();
            }
            return true;
        case IDC_CLOSE_LISTED_FILE:
        case IDM_CLOSE_RESOURCE:
            closeSelected();
            return true;
        case IDCANCEL:
            ShowWindow(hwnd(), SW_HIDE);
            return true;
        case IDOK:
            return true;
        default:
            return false;
        }
    case WM_CLOSE:
    case WM_SHOWWINDOW:
    case WM_SIZE:
    case WM_GETMINMAXINFO:
        return frameMessage(hwnd(), message, wParam, lParam,
                            {m_columns, m_layout, m_kept, "openFiles", onShownChanged});
    case WM_CONTEXTMENU: {
        if (reinterpret_cast<HWND>(wParam) != listView())
            return false;
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (p.x == -1 && p.y == -1)
            GetCursorPos(&p);
        if (m_columns.onHeader(p)) {
            m_columns.headerMenu(hwnd(), p);
            return true;
        }
        // A right click selects the row under it.
        if (auto row = rowAt(listView(), p))
            list::select(listView(), row);
        SetForegroundWindow(hwnd());
        const int command =
            TrackPopupMenu(GetSubMenu(m_menus, 3), TPM_RIGHTBUTTON | TPM_RETURNCMD, p.x, p.y, 0, hwnd(), nullptr);
        if (command == IDM_CLOSE_RESOURCE)
            closeSelected();
        return true;
    }
    case WM_NOTIFY: {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (m_columns.refuse(header, answer))
            return true;
        if (header.idFrom != IDC_ALL_FILES)
            return false;
        if (header.code == LVN_COLUMNCLICK) {
            m_columns.clickTitle(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
            rebuild();
            return true;
        }
        if (header.code == LVN_GETINFOTIPW) {
            auto& tip = *reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
            if (tip.iItem >= 0 && tip.iItem < static_cast<int>(m_rows.size()))
                answerInfoTip(tip, fileOfRow(tip.iItem).path);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

// --- shares -------------------------------------------------------------------------------------

SharesWindow::SharesWindow(LayoutFile layout)
    : Dialog(IDD_SHARES)
    , m_kept(std::move(layout))
{
}

bool SharesWindow::onInit()
{
    setProgramIcon(hwnd());
    HWND view = listView();
    list::setFullRow(view);
    ListView_SetExtendedListViewStyleEx(view, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
    const int widths[] = {100, 160, 90, 250};
    std::vector<ListColumns::Column> columns;
    for (int c = 0; c < shareColumnCount; ++c)
        columns.push_back({shareTitle(static_cast<ShareColumn>(c)), widths[c], true, false});
    m_columns.setUp(view, std::move(columns), m_kept, "shares");
    m_layout.add(hwnd(), IDC_SHARES_LIST, EdgeLayout::Stretch, EdgeLayout::Stretch);
    m_kept.restoreWindow(hwnd(), "shares");
    rebuild();
    return true;
}

void SharesWindow::setSnapshot(const SessionsSnapshot& snapshot)
{
    m_shares = shareUses(snapshot.rows, snapshot.openFiles, snapshot.shares);
    rebuild();
}

void SharesWindow::rebuild()
{
    if (!hwnd())
        return;
    // By name as shareUses gives them, or by the clicked column's text (connections as numbers).
    std::vector<std::size_t> order(m_shares.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (auto column = m_columns.sortColumn()) {
        const auto c = static_cast<ShareColumn>(*column);
        const bool down = m_columns.descending();
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const ShareUse& x = m_shares[down ? b : a];
            const ShareUse& y = m_shares[down ? a : b];
            if (c == ShareColumn::Connections)
                return x.connections < y.connections;
            return shareText(x, c) < shareText(y, c);
        });
    }
    HWND view = listView();
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(view);
    for (std::size_t r = 0; r < order.size(); ++r) {
        const ShareUse& s = m_shares[order[r]];
        const int row = list::insertRow(view, static_cast<int>(r), shareText(s, ShareColumn::Share), -1,
                                        static_cast<LPARAM>(order[r]));
        for (int c = 1; c < shareColumnCount; ++c)
            list::setCell(view, row, c, shareText(s, static_cast<ShareColumn>(c)));
    }
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
}

bool SharesWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT&)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            ShowWindow(hwnd(), SW_HIDE);
            return true;
        }
        return LOWORD(wParam) == IDOK;
    case WM_CLOSE:
    case WM_SHOWWINDOW:
    case WM_SIZE:
    case WM_GETMINMAXINFO:
        return frameMessage(hwnd(), message, wParam, lParam, {m_columns, m_layout, m_kept, "shares", onShownChanged});
    case WM_NOTIFY: {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.idFrom != IDC_SHARES_LIST)
            return false;
        if (header.code == LVN_COLUMNCLICK) {
            m_columns.clickTitle(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
            rebuild();
            return true;
        }
        // Every client on a line of its own.
        if (header.code == LVN_GETINFOTIPW) {
            auto& tip = *reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
            if (tip.iItem >= 0 && tip.iItem < list::rowCount(listView()))
                answerInfoTip(tip, shareText(m_shares[static_cast<std::size_t>(list::data(listView(), tip.iItem))],
                                             ShareColumn::Clients, "\n"));
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

}  // namespace vantor::win
