#pragma once
// The small dialogs: the remote server's "Input", "Add user" of the list pages, and About.

#include "platform/NetManagement.h"
#include "win/WinUi.h"
#include "win/resource.h"

#include <string>

namespace vantor::win {

// "Input" (148): the name of the server to monitor, opening with "127.0.0.1".
class ServerInputDialog final : public Dialog {
public:
    ServerInputDialog()
        : Dialog(IDD_SERVER_INPUT)
    {
    }
    // The edit field's text as typed, after OK.
    const std::string& text() const { return m_text; }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    std::string m_text;
};

// "Add user" (167): a user and a computer, each picked or typed; the user box offers "<Any>" and
// the accounts of this computer, the computer box "<Any>".
class AddUserDialog final : public Dialog {
public:
    // `accounts` null: the user box offers no accounts.
    explicit AddUserDialog(NetManagement* accounts)
        : Dialog(IDD_ADD_USER)
        , m_accounts(accounts)
    {
    }
    const std::string& user() const { return m_user; }
    const std::string& computer() const { return m_computer; }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    NetManagement* m_accounts;
    std::string m_user;
    std::string m_computer;
};

class AboutBox final : public Dialog {
public:
    AboutBox()
        : Dialog(IDD_ABOUT)
    {
    }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
};

// The program's version, as --version prints it.
const char* programVersion();

}  // namespace vantor::win
