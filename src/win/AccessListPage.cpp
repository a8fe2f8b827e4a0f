#include "win/AccessListPage.h"

#include "win/SmallDialogs.h"
#include "win/resource.h"

namespace vantor::win {

AccessListPage::AccessListPage(int templateId, const AccessListRows& rows, NetManagement* accounts)
    : ChildDialog(templateId)
    , m_accounts(accounts)
    , m_rows(rows)
{
}

AccessListPage::~AccessListPage()
{
    if (m_headerImages)
        ImageList_Destroy(m_headerImages);
}

void AccessListPage::onInit()
{
    HWND view = listView();
    list::setFullRow(view);
    list::addColumn(view, 0, "User", 100, LVCFMT_CENTER);
    list::addColumn(view, 1, "Computer", 100, LVCFMT_CENTER);
    HIMAGELIST rowImages = bitmapList(16, {IDB_USER}, {RGB(255, 255, 255)});
    ImageList_SetBkColor(rowImages, GetSysColor(COLOR_WINDOW));
    ListView_SetImageList(view, rowImages, LVSIL_SMALL);
    m_headerImages = bitmapList(13, {IDB_HEADER_USER, IDB_HEADER_COMPUTER}, {RGB(255, 255, 255)});
    ImageList_SetBkColor(m_headerImages, GetSysColor(COLOR_BTNFACE));
    Header_SetImageList(ListView_GetHeader(view), m_headerImages);
    list::setHeaderImage(view, 0, 0);
    list::setHeaderImage(view, 1, 1);
    showRows();
}

void AccessListPage::showRows()
{
    HWND view = listView();
    ListView_DeleteAllItems(view);
    const auto& rows = m_rows.rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        list::insertRow(view, static_cast<int>(i), rows[i].user, 0);
        list::setCell(view, static_cast<int>(i), 1, rows[i].computer);
    }
}

void AccessListPage::addUser()
{
    AddUserDialog dialog(m_accounts);
    if (dialog.runModal(GetParent(hwnd())) != IDOK)
        return;
    m_rows.addAtTop(dialog.user(), dialog.computer());
    showRows();
}

bool AccessListPage::onMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return false;
    switch (LOWORD(wParam)) {
    case IDC_ADD_USER:
        addUser();
        return true;
    case IDC_REMOVE_USER:
        if (auto row = list::selected(listView())) {
            m_rows.remove(*row);
            showRows();
        }
        return true;
    case IDC_CLEAR:
        m_rows.clear();
        showRows();
        return true;
    default:
        return false;
    }
}

}  // namespace vantor::win
