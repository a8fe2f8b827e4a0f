#include "win/SmallDialogs.h"

#include "monitor/SessionMonitor.h"

namespace vantor::win {

namespace {

constexpr int maxNameCharacters = 255;

// A combo box's edit text, at most 255 characters.
std::string comboText(HWND combo)
{
    wchar_t buffer[maxNameCharacters + 1] = {};
    GetWindowTextW(combo, buffer, maxNameCharacters + 1);
    return utf8(buffer);
}

void addItem(HWND combo, std::string_view text)
{
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(text).c_str()));
}

}  // namespace

const char* programVersion()
{
    return VANTOR_VERSION;
}

bool ServerInputDialog::onInit()
{
    setItemText(hwnd(), IDC_SERVER_NAME, SessionMonitor::remoteServerDefault);
    return true;
}

bool ServerInputDialog::onMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&)
{
    if (message != WM_COMMAND)
        return false;
    if (LOWORD(wParam) == IDOK) {
        m_text = itemText(hwnd(), IDC_SERVER_NAME);
        end(IDOK);
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        end(IDCANCEL);
        return true;
    }
    return false;
}

bool AddUserDialog::onInit()
{
    HWND users = item(IDC_USER_COMBO);
    HWND computers = item(IDC_COMPUTER_COMBO);
    addItem(users, "<Any>");
    addItem(computers, "<Any>");
    std::vector<std::string> accounts;
    if (m_accounts && m_accounts->enumUsers(accounts).ok())
        for (const auto& name : accounts)
            addItem(users, name);
    return true;
}

bool AddUserDialog::onMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&)
{
    if (message != WM_COMMAND)
        return false;
    if (LOWORD(wParam) == IDOK) {
        m_user = comboText(item(IDC_USER_COMBO));
        m_computer = comboText(item(IDC_COMPUTER_COMBO));
        end(IDOK);
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        end(IDCANCEL);
        return true;
    }
    return false;
}

bool AboutBox::onInit()
{
    setItemText(hwnd(), IDC_ABOUT_VERSION, std::string("Vantor ") + programVersion());
    return true;
}

bool AboutBox::onMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&)
{
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        end(LOWORD(wParam));
        return true;
    }
    return false;
}

}  // namespace vantor::win
