#pragma once
// The columns of a list view a person arranges, as in the Linux program's tables: the header's
// context menu shows and hides the columns that may go (a hidden column is 0 pixels wide and
// cannot be dragged open), and a click on a column's title sorts by it: ascending, descending,
// then back to the list's own order, with the header's sort mark.

#include "win/LayoutFile.h"
#include "win/WinUi.h"

#include <optional>
#include <string>
#include <vector>

namespace vantor::win {

class ListColumns {
public:
    struct Column {
        std::string title;
        int width = 100;
        bool fixed = false;  // always shown
        bool hidden = false;  // hidden until a person shows it
        int format = LVCFMT_LEFT;
    };

    // Inserts the columns into `view` (which has none yet), as `layout` kept them under `section`
    // when it did.
    void setUp(HWND view, std::vector<Column> columns, const LayoutFile& layout = {}, std::string section = {});
    // Which columns are shown and their widths, into the layout file.
    void save() const;

    int count() const { return static_cast<int>(m_columns.size()); }
    bool shown(int column) const;
    // Fixed columns stay shown.
    void setShown(int column, bool on);

    // A click on a column's title; false when the sort did not change.
    void clickTitle(int column);
    std::optional<int> sortColumn() const { return m_sort < 0 ? std::nullopt : std::optional<int>(m_sort); }
    bool descending() const { return m_descending; }

    // Whether `screen` lies on the list's header.
    bool onHeader(POINT screen) const;
    // The header's menu at `screen`, owned by `owner`: one checked item per shown column; the
    // chosen one is shown or hidden.
    void headerMenu(HWND owner, POINT screen);
    // A header notification forwarded by the list: true (and the answer TRUE) to refuse dragging
    // a hidden column open.
    bool refuse(const NMHDR& header, LRESULT& answer) const;

private:
    void markSort();

    HWND m_view = nullptr;
    LayoutFile m_layout;
    std::string m_section;
    std::vector<Column> m_columns;
    std::vector<int> m_widths;  // what a hidden column is given back when shown
    int m_sort = -1;
    bool m_descending = false;
};

}  // namespace vantor::win
