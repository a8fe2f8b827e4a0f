#pragma once
// The modal "Options" window (template 156): six pages above a tab strip, OK and Cancel. It edits
// a copy of the settings and of the two lists, and the autostart entry; what OK checks, and how
// the face puts the accepted copy into force, are the core's (OptionsModel, OptionsCommand). The
// pages here only show values and read them back.

#include "options/OptionsModel.h"
#include "win/AccessListPage.h"
#include "win/WinUi.h"
#include "win/resource.h"

#include <array>
#include <functional>
#include <memory>

namespace vantor::win {

// What the Options window takes from the rest of the program.
struct OptionsDeps {
    SendTestMailFn sendTestMail;  // empty: the button is disabled
    Autostart* autostart = nullptr;  // null: the platform's machine-wide entry
    std::string executablePath;  // what autostart starts; empty: this running program
    NetManagement* accounts = nullptr;  // what "Add user" offers; null: no accounts
    // The "..." of the Report page: a save dialog's choice, or nothing (default: the common dialog).
    std::function<std::optional<std::string>(HWND owner)> browseReport;
};

// One of the four pages of settings: its template's controls only.
class SettingsPage final : public ChildDialog {
public:
    using Handler = std::function<bool(HWND page, int control)>;
    SettingsPage(int templateId, Handler onClick)
        : ChildDialog(templateId)
        , m_onClick(std::move(onClick))
    {
    }

private:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    Handler m_onClick;
};

class OptionsSheet final : public Dialog {
public:
    enum Tab { General, Users, Mail, Report, BlackList, WhiteList, TabCount };

    OptionsSheet(const OptionsValue& values, MessageBoxes& boxes, const OptionsDeps& deps);
    ~OptionsSheet() override;

    // The copy: as given before the window ran, as accepted after OK.
    const OptionsValue& values() const { return m_values; }
    // How the window closed, with what is to be stored.
    const OptionsResult& outcome() const { return m_closer.result(); }
    void showTab(int index);
    int currentTab() const;
    HWND page(int tab) const;
    AccessListPage& listPage(Tab tab) { return tab == BlackList ? *m_blackList : *m_whiteList; }
    HWND tabs() const { return item(IDC_TABS); }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    void load();
    void store(MonitorSettings& settings) const;
    void accept();
    bool pageClick(HWND page, int control);
    int32_t reportLimitIndex() const;

    MessageBoxes& m_boxes;
    OptionsValue m_values;
    OptionsCloser m_closer;
    OptionsDeps m_deps;
    std::unique_ptr<Autostart> m_ownAutostart;
    Autostart* m_autostart = nullptr;
    std::array<std::unique_ptr<SettingsPage>, 4> m_settingsPages;
    std::unique_ptr<AccessListPage> m_blackList;
    std::unique_ptr<AccessListPage> m_whiteList;
};

// "Options..." of the tray menu: runs the window modally over `owner`.
OptionsResult runOptionsWindow(const OptionsValue& values, MessageBoxes& boxes, HWND owner, const OptionsDeps& deps);

}  // namespace vantor::win
