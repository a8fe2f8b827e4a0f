#include "win/ListColumns.h"

#include "win/resource.h"

namespace vantor::win {

void ListColumns::setUp(HWND view, std::vector<Column> columns, const LayoutFile& layout, std::string section)
{
    m_view = view;
    m_layout = layout;
    m_section = std::move(section);
    m_columns = std::move(columns);
    // What was kept counts only while it fits the columns there are now.
    const std::vector<int> widths = m_layout.numbers(m_section, "widths");
    const std::vector<int> hidden = m_layout.numbers(m_section, "hidden");
    if (widths.size() == m_columns.size()) {
        for (std::size_t c = 0; c < widths.size(); ++c) {
            if (widths[c] > 0 && widths[c] < 4000)
                m_columns[c].width = widths[c];
            m_columns[c].hidden = false;
        }
        for (int c : hidden)
            if (c >= 0 && c < count())
                m_columns[static_cast<std::size_t>(c)].hidden = true;
    }
    m_widths.clear();
    for (int c = 0; c < count(); ++c) {
        const Column& col = m_columns[static_cast<std::size_t>(c)];
        m_widths.push_back(col.width);
        list::addColumn(view, c, col.title.c_str(), col.hidden && !col.fixed ? 0 : col.width, col.format);
    }
}

void ListColumns::save() const
{
    if (!m_layout.kept() || !m_view || !IsWindow(m_view))
        return;
    std::vector<int> widths, hidden;
    for (int c = 0; c < count(); ++c) {
        const bool on = shown(c);
        widths.push_back(on ? ListView_GetColumnWidth(m_view, c) : m_widths[static_cast<std::size_t>(c)]);
        if (!on)
            hidden.push_back(c);
    }
    m_layout.save(m_section, "widths", widths);
    m_layout.save(m_section, "hidden", hidden);
}

bool ListColumns::shown(int column) const
{
    return column >= 0 && column < count() && ListView_GetColumnWidth(m_view, column) > 0;
}

void ListColumns::setShown(int column, bool on)
{
    if (column < 0 || column >= count() || m_columns[static_cast<std::size_t>(column)].fixed || shown(column) == on)
        return;
    if (!on)
        m_widths[static_cast<std::size_t>(column)] = ListView_GetColumnWidth(m_view, column);
    const int width = m_widths[static_cast<std::size_t>(column)];
    ListView_SetColumnWidth(m_view, column,
                            on ? (width > 0 ? width : m_columns[static_cast<std::size_t>(column)].width) : 0);
    save();
}

void ListColumns::clickTitle(int column)
{
    if (column < 0 || column >= count())
        return;
    if (m_sort != column) {
        m_sort = column;
        m_descending = false;
    } else if (!m_descending) {
        m_descending = true;
    } else {
        m_sort = -1;
        m_descending = false;
    }
    markSort();
}

void ListColumns::markSort()
{
    HWND header = ListView_GetHeader(m_view);
    for (int c = 0; c < count(); ++c) {
        HDITEMW h{};
        h.mask = HDI_FORMAT;
        Header_GetItem(header, c, &h);
        h.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (c == m_sort)
            h.fmt |= m_descending ? HDF_SORTDOWN : HDF_SORTUP;
        Header_SetItem(header, c, &h);
    }
}

bool ListColumns::onHeader(POINT screen) const
{
    RECT r;
    HWND header = ListView_GetHeader(m_view);
    return header && IsWindowVisible(header) && GetWindowRect(header, &r) && PtInRect(&r, screen);
}

void ListColumns::headerMenu(HWND owner, POINT screen)
{
    HMENU menu = CreatePopupMenu();
    for (int c = 0; c < count(); ++c) {
        const Column& col = m_columns[static_cast<std::size_t>(c)];
        UINT flags = MF_STRING | (shown(c) ? MF_CHECKED : MF_UNCHECKED) | (col.fixed ? MF_GRAYED : 0);
        AppendMenuW(menu, flags, IDM_COLUMN_FIRST + c, wide(col.title).c_str());
    }
    SetForegroundWindow(owner);
    const int chosen = TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, screen.x, screen.y, 0, owner, nullptr);
    DestroyMenu(menu);
    if (chosen >= IDM_COLUMN_FIRST && chosen < IDM_COLUMN_FIRST + count())
        setShown(chosen - IDM_COLUMN_FIRST, !shown(chosen - IDM_COLUMN_FIRST));
}

bool ListColumns::refuse(const NMHDR& header, LRESULT& answer) const
{
    if (header.hwndFrom != ListView_GetHeader(m_view))
        return false;
    if (header.code != HDN_BEGINTRACKW && header.code != HDN_BEGINTRACKA && header.code != HDN_DIVIDERDBLCLICKW
        && header.code != HDN_DIVIDERDBLCLICKA)
        return false;
    const int column = reinterpret_cast<const NMHEADERW&>(header).iItem;
    if (shown(column))
        return false;
    answer = TRUE;
    return true;
}

}  // namespace vantor::win
