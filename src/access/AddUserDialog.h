#pragma once
// "Add user": a user and a computer for a list page, each picked from a list or typed.

#include <QDialog>

#include <string>

class QComboBox;

namespace vantor {

class NetManagement;

class AddUserDialog final : public QDialog {
    Q_OBJECT
public:
    // Offers "<Any>" and the accounts of this computer (whatever server is monitored).
    // `accounts` null: the user box offers no accounts.
    AddUserDialog(NetManagement* accounts, QWidget* parent = nullptr);

    // After OK: the two texts as typed or picked, at most 255 bytes each. Nothing is checked.
    std::string user() const { return m_user; }
    std::string computer() const { return m_computer; }

    void accept() override;

private:
    QComboBox* m_userBox;
    QComboBox* m_computerBox;
    std::string m_user;
    std::string m_computer;
};

}  // namespace vantor
