#pragma once
// The modal "Options" window (template 156): six pages above a tab strip, OK and Cancel. It edits
// a copy of the settings, the two list files and the autostart entry; what OK checks and writes,
// and how the Options command puts the accepted copy into force, are the core's (OptionsModel,
// OptionsCommand). The pages here only show values and read them back.

#include "options/OptionsCommand.h"
#include "options/OptionsModel.h"
#include "win/AccessListPage.h"
#include "win/WinUi.h"
#include "win/resource.h"

#include <array>
#include <functional>
#include <memory>

namespace vantor::win {

// What the Options window and command take from the rest of the program.
struct OptionsDeps {
    TrimLogsFn trimLogs;  // empty: nothing is trimmed
    SendTestMailFn sendTestMail;  // empty: the button is disabled
    Autostart* autostart = nullptr;  // null: the platform's machine-wide entry
    std::string executablePath;  // what autostart starts; empty: this running program
    std::function<void()> saveSettings;  // keeps accepted settings for the next start; empty: not kept
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

    OptionsSheet(SessionMonitor& monitor, const OptionsValue& values, const OptionsDeps& deps);
    ~OptionsSheet() override;

    // The settings copy: as given before the window ran, as accepted after OK.
    const OptionsValue& values() const { return m_values; }
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

    SessionMonitor& m_monitor;
    OptionsValue m_values;
    OptionsDeps m_deps;
    std::unique_ptr<Autostart> m_ownAutostart;
    Autostart* m_autostart = nullptr;
    std::array<std::unique_ptr<SettingsPage>, 4> m_settingsPages;
    std::unique_ptr<AccessListPage> m_blackList;
    std::unique_ptr<AccessListPage> m_whiteList;
};

// "Options..." of the tray menu: runs the window modally over `owner` and, on OK, puts the edited
// settings into force. True when the window was accepted.
bool runOptionsWindow(SessionMonitor& monitor, HWND owner, const OptionsDeps& deps);

}  // namespace vantor::win
