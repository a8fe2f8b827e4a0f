#pragma once
// The modal "Options" window: six pages above a tab strip, OK and Cancel. It edits a copy of the
// settings, the two list files and the autostart entry; the Options command puts the accepted
// copy into force.

#include "options/OptionsCommand.h"
#include "options/OptionsModel.h"

#include <QDialog>

#include <functional>
#include <memory>

class QStackedWidget;
class QTabBar;
class QToolButton;

namespace vantor {

class AccessListPage;
class GeneralPage;
class MailPage;
class ReportPage;
class SessionMonitor;
class UsersPage;

// What the Options window and command take from the rest of the program.
struct OptionsDeps {
    TrimLogsFn trimLogs;  // the history's trimming; empty: nothing is trimmed
    SendTestMailFn sendTestMail;  // the mail's test mail; empty: its button is disabled
    Autostart* autostart = nullptr;  // null: the platform's machine-wide entry
    std::string executablePath;  // what autostart starts; empty: this running program
    // Keeps the accepted settings for the next start, after every step of OK; empty: not kept.
    std::function<void()> saveSettings;
};

class OptionsSheet final : public QDialog {
    Q_OBJECT
public:
    enum Tab { General, Users, Mail, Report, BlackList, WhiteList, TabCount };

    OptionsSheet(SessionMonitor& monitor, const OptionsValue& values, const OptionsDeps& deps,
                 QWidget* parent = nullptr);
    ~OptionsSheet() override;

    // The settings copy: as given before the window ran, as accepted after OK.
    const OptionsValue& values() const { return m_values; }

    QTabBar* tabBar() const { return m_tabs; }
    AccessListPage* listPage(Tab tab) const;
    void showTab(int index);

    void accept() override;

private:
    QToolButton* navigationButton(const char* name, const char* tip, int icon);

    SessionMonitor& m_monitor;
    OptionsValue m_values;
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

// The "Options..." command of the tray menu: runs the window modally over `parent` and, on OK,
// puts the edited settings into force. Returns true when the window was accepted.
bool runOptionsCommand(SessionMonitor& monitor, QWidget* parent, const OptionsDeps& deps);

}  // namespace vantor
