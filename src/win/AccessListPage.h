#pragma once
// The "Black list" and "White list" pages of the Options window (templates 165 and 166): one list
// file as a table the user adds to, removes from and clears. The rows are the core's
// AccessListRows; the page only shows them.

#include "access/AccessListRows.h"
#include "platform/NetManagement.h"
#include "win/WinUi.h"

#include <filesystem>

namespace vantor::win {

class AccessListPage final : public ChildDialog {
public:
    // `accounts`: what "Add user" offers besides "<Any>"; null: nothing more.
    AccessListPage(int templateId, const AccessListRows& rows, NetManagement* accounts);
    ~AccessListPage() override;

    const AccessListRows& rows() const { return m_rows; }
    HWND listView() const { return item(1001); }

private:
    void onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void showRows();
    void addUser();

    NetManagement* m_accounts;
    AccessListRows m_rows;
    HIMAGELIST m_headerImages = nullptr;
};

}  // namespace vantor::win
