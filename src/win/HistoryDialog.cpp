#include "win/HistoryDialog.h"

namespace vantor::win {

namespace {
const COLORREF listColour = RGB(207, 231, 255);
}

HistoryDialog::HistoryDialog(std::unique_ptr<HistorySource> source, MessageBoxes& boxes, std::string reportPathName)
    : Dialog(IDD_HISTORY)
    , m_source(std::move(source))
    , m_boxes(boxes)
    , m_reportPathName(std::move(reportPathName))
{
}

HistoryDialog::~HistoryDialog()
{
    if (hwnd())
        DestroyWindow(hwnd());
    // Its loads and reports under way end before the window's state goes.
    m_source.reset();
    for (HIMAGELIST list : {m_sessionHeaders, m_fileHeaders})
        if (list)
            ImageList_Destroy(list);
}

bool HistoryDialog::onInit()
{
    HWND sessions = sessionsList();
    HWND files = filesList();
    for (HWND view : {sessions, files}) {
        list::setColours(view, listColour);
        list::setFullRow(view);
    }
    addTooltips(hwnd(), {{IDC_REPORT_BUTTON, "Generate web-based report"}});
    SendMessageW(item(IDC_REPORT_BUTTON), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon(IDI_REPORT, 32)));

    HIMAGELIST rowImages = bitmapList(16, {IDB_USER}, {RGB(255, 255, 255)});
    ImageList_SetBkColor(rowImages, GetSysColor(COLOR_WINDOW));
    ListView_SetImageList(sessions, rowImages, LVSIL_SMALL);

    const char* headings[] = {"User", "Computer", "# Total open files", "Timestamp", "Session time"};
    for (int c = 0; c < HistorySessionRows::ColumnCount; ++c)
        list::addColumn(sessions, c, headings[c], HistorySessionRows::columnWidths[static_cast<std::size_t>(c)],
                        c <= HistorySessionRows::Computer ? LVCFMT_LEFT : LVCFMT_CENTER);
    list::addColumn(files, 0, "Timestamp", 150, LVCFMT_CENTER);
    list::addColumn(files, 1, "Resource name", 550);

    m_sessionHeaders = bitmapList(13, {IDB_HEADER_USER, IDB_HEADER_COMPUTER, IDB_HEADER_TIMESTAMP, IDB_HEADER_DURATION},
                                  {RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 0, 0), RGB(255, 255, 255)});
    ImageList_SetBkColor(m_sessionHeaders, GetSysColor(COLOR_BTNFACE));
    Header_SetImageList(ListView_GetHeader(sessions), m_sessionHeaders);
    list::setHeaderImage(sessions, 0, 0);
    list::setHeaderImage(sessions, 1, 1);
    list::setHeaderImage(sessions, 3, 2);
    list::setHeaderImage(sessions, 4, 3);
    m_fileHeaders = bitmapList(13, {IDB_HEADER_FILES, IDB_HEADER_TIMESTAMP}, {RGB(255, 0, 0)});
    ImageList_SetBkColor(m_fileHeaders, GetSysColor(COLOR_BTNFACE));
    Header_SetImageList(ListView_GetHeader(files), m_fileHeaders);
    list::setHeaderImage(files, 1, 0);
    list::setHeaderImage(files, 0, 1);

    // The logs can be large: the lists are filled (and the report button let go) when they come.
    EnableWindow(item(IDC_REPORT_BUTTON), FALSE);
    m_source->load([this](HistoryPtr history, std::string failure) {
        if (!history) {
            m_boxes.show({"Error", failure, BoxIcon::Error, BoxButtons::Ok, hwnd()});
            return;
        }
        m_rows.setHistory(std::move(history));
        showSessions(std::nullopt);
        m_loaded = true;
        EnableWindow(item(IDC_REPORT_BUTTON), TRUE);
        if (onLoaded)
            onLoaded();
    });
    return true;
}

void HistoryDialog::showSessions(std::optional<std::size_t> keepSession)
{
    HWND view = sessionsList();
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(view);
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const int row = list::insertRow(view, static_cast<int>(r), m_rows.cellText(r, 0), 0,
                                        static_cast<LPARAM>(m_rows.sessionIndex(r)));
        for (int c = 1; c < HistorySessionRows::ColumnCount; ++c)
            list::setCell(view, row, c, m_rows.cellText(r, c));
        if (keepSession && m_rows.sessionIndex(r) == *keepSession)
            list::select(view, row);
    }
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
}

void HistoryDialog::showSessionFiles()
{
    HWND files = filesList();
    ListView_DeleteAllItems(files);
    const auto selected = list::selected(sessionsList());
    if (!selected || !m_rows.history())
        return;
    const SessionRecord& session =
        m_rows.history()->sessions()[static_cast<std::size_t>(list::data(sessionsList(), *selected))];
    int row = 0;
    for (const HistoryFileRow& f : historyFileRows(*m_rows.history(), session)) {
        list::insertRow(files, row, f.timestamp, -1);
        list::setCell(files, row, 1, m_rows.history()->files()[f.file].path);
        ++row;
    }
}

void HistoryDialog::generateReport()
{
    EnableWindow(item(IDC_REPORT_BUTTON), FALSE);
    m_source->writeReport(m_rows.history(), m_reportPathName, [this](const HistorySource::Report& report) {
        EnableWindow(item(IDC_REPORT_BUTTON), TRUE);
        m_boxes.show(report.box(hwnd()));
        if (onReport)
            onReport(report.written);
    });
}

bool HistoryDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            end(IDOK);
            return true;
        }
        if (LOWORD(wParam) == IDC_REPORT_BUTTON) {
            generateReport();
            return true;
        }
        return false;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_HISTORY_SESSIONS)
            return false;
        answer = 0;
        if (header->code == NM_CLICK) {
            showSessionFiles();
            return true;
        }
        if (header->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if ((change->uChanged & LVIF_STATE) && ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
                showSessionFiles();
            return true;
        }
        if (header->code == LVN_COLUMNCLICK) {
            const auto* click = reinterpret_cast<const NMLISTVIEW*>(lParam);
            const auto selected = list::selected(sessionsList());
            std::optional<std::size_t> keep;
            if (selected)
                keep = static_cast<std::size_t>(list::data(sessionsList(), *selected));
            m_rows.sortDescending(click->iSubItem);
            showSessions(keep);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

}  // namespace vantor::win
