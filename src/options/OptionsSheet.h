#pragma once
// The modal "Options" window: six pages above a tab strip, OK and Cancel. It edits a copy of the
// settings and of the two lists, and the autostart entry; it hands back how it closed, and the
// face puts the accepted copy into force.

#include "options/OptionsModel.h"

#include <QDialog>

#include <filesystem>
#include <memory>

class QStackedWidget;
class QTabBar;
class QToolButton;

namespace vantor {

class AccessListPage;
class GeneralPage;
class MailPage;
class NetManagement;
class ReportPage;
class UsersPage;

// What the Options window takes from the rest of the program.
struct OptionsDeps {
    SendTestMailFn sendTestMail;  // the mail's test mail; empty: its button is disabled
    Autostart* autostart = nullptr;  // null: the platform's machine-wide entry
    std::string executablePath;  // what autostart starts; empty: this running program
    NetManagement* accounts = nullptr;  // what "Add user" offers; null: no accounts
    std::filesystem::path browseDirectory;  // where the Report page's "..." starts
};

class OptionsSheet final : public QDialog {
    Q_OBJECT
public:
    enum Tab { General, Users, Mail, Report, BlackList, WhiteList, TabCount };

    OptionsSheet(const OptionsValue& values, MessageBoxes& boxes, const OptionsDeps& deps, QWidget* parent = nullptr);
    ~OptionsSheet() override;

    // The copy: as given before the window ran, as accepted after OK.
    const OptionsValue& values() const { return m_values; }
    // How the window closed, with what is to be stored.
    const OptionsResult& outcome() const { return m_closer.result(); }

    QTabBar* tabBar() const { return m_tabs; }
    AccessListPage* listPage(Tab tab) const;
    void showTab(int index);

    void accept() override;

private:
    QToolButton* navigationButton(const char* name, const char* tip, int icon);

    MessageBoxes& m_boxes;
    OptionsValue m_values;
    OptionsCloser m_closer;
    std::unique_ptr<Autostart> m_ownAutostart;
    Autostart& m_autostart;
    std::string m_executablePath;

    QStackedWidget* m_pages;
    QTabBar* m_tabs;
    GeneralPage* m_general;
    UsersPage* m_users;
    MailPage* m_mail;
    ReportPage* m_report;
    AccessListPage* m_blackList;
    AccessListPage* m_whiteList;
};

// "Options...": runs the window modally over `parent`.
OptionsResult runOptionsWindow(const OptionsValue& values, MessageBoxes& boxes, QWidget* parent,
                               const OptionsDeps& deps);

}  // namespace vantor
