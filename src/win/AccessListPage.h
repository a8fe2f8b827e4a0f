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
    AccessListPage(int templateId, std::filesystem::path file, NetManagement& net);
    ~AccessListPage() override;

    const AccessListRows& rows() const { return m_rows; }
    // Rewrites the page's file from its rows (the Options window's OK).
    void save() const { m_rows.save(m_file); }
    HWND listView() const { return item(1001); }

private:
    void onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void showRows();
    void addUser();

    std::filesystem::path m_file;
    NetManagement& m_net;
    AccessListRows m_rows;
    HIMAGELIST m_headerImages = nullptr;
};

}  // namespace vantor::win
