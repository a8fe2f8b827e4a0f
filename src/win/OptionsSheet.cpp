#include "win/OptionsSheet.h"

#include "platform/Paths.h"

#include <commdlg.h>

namespace vantor::win {

namespace {

struct TabInfo {
    const char* text;
    const char* tip;
    int page;
};
constexpr TabInfo tabInfo[OptionsSheet::TabCount] = {
    {"General", "General settings", IDD_PAGE_GENERAL},
    {"Users", "On new user event", IDD_PAGE_USERS},
    {"E-mail", "E-mail settings", IDD_PAGE_MAIL},
    {"Report", "Web-based report settings", IDD_PAGE_REPORT},
    {"Black list", "Black list settings", IDD_PAGE_BLACK_LIST},
    {"White list", "White list settings", IDD_PAGE_WHITE_LIST},
};

std::optional<std::string> browseForReport(HWND owner)
{
    wchar_t file[MAX_PATH] = L"report.html";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"Web page (*.html)\0*.html\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"html";
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&ofn))
        return std::nullopt;
    return utf8(file);
}

}  // namespace

bool SettingsPage::onMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && m_onClick)
        return m_onClick(hwnd(), LOWORD(wParam));
    return false;
}

OptionsSheet::OptionsSheet(const OptionsValue& values, MessageBoxes& boxes, const OptionsDeps& deps)
    : Dialog(IDD_OPTIONS)
    , m_boxes(boxes)
    , m_values(values)
    , m_closer(values)
    , m_deps(deps)
{
    if (deps.autostart) {
        m_autostart = deps.autostart;
    } else {
        m_ownAutostart = createPlatformAutostart();
        m_autostart = m_ownAutostart.get();
    }
    if (m_deps.executablePath.empty())
        m_deps.executablePath = textFromPath(executablePath());
    if (!m_deps.browseReport)
        m_deps.browseReport = &browseForReport;
    for (int i = 0; i < 4; ++i)
        m_settingsPages[static_cast<std::size_t>(i)] = std::make_unique<SettingsPage>(
            tabInfo[i].page, [this](HWND page, int control) { return pageClick(page, control); });
    m_blackList = std::make_unique<AccessListPage>(IDD_PAGE_BLACK_LIST, values.blackList, deps.accounts);
    m_whiteList = std::make_unique<AccessListPage>(IDD_PAGE_WHITE_LIST, values.whiteList, deps.accounts);
}

OptionsSheet::~OptionsSheet()
{
    // The pages are children of the window: it goes first, while they are still here.
    if (hwnd())
        DestroyWindow(hwnd());
}

HWND OptionsSheet::page(int tab) const
{
    if (tab < 0 || tab >= TabCount)
        return nullptr;
    if (tab < 4)
        return m_settingsPages[static_cast<std::size_t>(tab)]->hwnd();
    return tab == BlackList ? m_blackList->hwnd() : m_whiteList->hwnd();
}

bool OptionsSheet::onInit()
{
    HWND strip = tabs();
    for (int i = 0; i < TabCount; ++i) {
        std::wstring text = wide(tabInfo[i].text);
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = text.data();
        TabCtrl_InsertItem(strip, i, &tab);
    }
    for (auto& p : m_settingsPages)
        p->create(hwnd());
    m_blackList->create(hwnd());
    m_whiteList->create(hwnd());
    // Every page fills the area above the tab strip.
    RECT area{0, 0, 163, 90};
    MapDialogRect(hwnd(), &area);
    for (int i = 0; i < TabCount; ++i)
        SetWindowPos(page(i), nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);

    HWND choice = GetDlgItem(page(Report), IDC_REPORT_LIMIT_CHOICE);
    for (const char* text : reportLimitChoices)
        SendMessageW(choice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(text).c_str()));
    if (!m_deps.sendTestMail)
        EnableWindow(GetDlgItem(page(Mail), IDC_TEST_MAIL), FALSE);
    load();
    showTab(General);
    return true;
}

void OptionsSheet::load()
{
    const MonitorSettings& v = m_values.settings;
    HWND general = page(General);
    setChecked(general, IDC_HIDE_LOCAL_USERS, v.hideLocalUsers != 0);
    setChecked(general, IDC_NO_HISTORY, v.noHistory != 0);
    setChecked(general, IDC_HIDE_SYSTEM_REQUESTS, v.hideSystemRequests != 0);
    setChecked(general, IDC_LOG_FILES, v.logOpenedFiles == 0);
    setChecked(general, IDC_USE_BLACK_LIST, v.useBlackList != 0);
    setChecked(general, IDC_USE_WHITE_LIST, v.useBlackList == 0);
    setChecked(general, IDC_LAUNCH_ON_STARTUP, m_autostart->isEnabled());

    HWND users = page(Users);
    setChecked(users, IDC_BEEP, v.beepOnNewUser != 0);
    setChecked(users, IDC_MAIL_ON_NEW_USER, v.mailOnNewUser != 0);
    setChecked(users, IDC_POPUP, v.popupOnNewUser != 0);

    HWND mail = page(Mail);
    setChecked(mail, IDC_DAILY_REPORT, v.dailyReport != 0);
    setItemText(mail, IDC_MAIL_ADDRESS, v.mailAddress);
    setItemText(mail, IDC_SMTP_SERVER, v.smtpServer);
    setItemText(mail, IDC_DAILY_REPORT_TIME, v.dailyReportTime);

    HWND report = page(Report);
    setChecked(report, IDC_AUTO_UPDATE, v.reportAutoUpdate != 0);
    setItemText(report, IDC_REPORT_PATH, v.reportPath.get());
    setChecked(report, IDC_REPORT_LIMIT, v.reportLimit != 0);
    SendDlgItemMessageW(
        report, IDC_REPORT_LIMIT_CHOICE, CB_SETCURSEL,
        static_cast<WPARAM>(isReportLimitChoice(v.reportLimitIndex) || isReportLimitSeparator(v.reportLimitIndex)
                                ? v.reportLimitIndex
                                : -1),
        0);
}

int32_t OptionsSheet::reportLimitIndex() const
{
    // Typed text selects the item it names, or nothing.
    HWND choice = GetDlgItem(page(Report), IDC_REPORT_LIMIT_CHOICE);
    const std::wstring text = wide(windowText(choice));
    const auto current = static_cast<int>(SendMessageW(choice, CB_GETCURSEL, 0, 0));
    if (current >= 0) {
        std::wstring itemText(static_cast<std::size_t>(SendMessageW(choice, CB_GETLBTEXTLEN, current, 0)) + 1, L'\0');
        const auto n = SendMessageW(choice, CB_GETLBTEXT, current, reinterpret_cast<LPARAM>(itemText.data()));
        itemText.resize(static_cast<std::size_t>(n > 0 ? n : 0));
        if (itemText == text)
            return current;
    }
    return static_cast<int32_t>(
        SendMessageW(choice, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str())));
}

void OptionsSheet::store(MonitorSettings& v) const
{
    HWND general = page(General);
    v.hideLocalUsers = checked(general, IDC_HIDE_LOCAL_USERS);
    v.noHistory = checked(general, IDC_NO_HISTORY);
    v.hideSystemRequests = checked(general, IDC_HIDE_SYSTEM_REQUESTS);
    v.logOpenedFiles = checked(general, IDC_LOG_FILES) ? 0 : 1;
    v.useBlackList = checked(general, IDC_USE_BLACK_LIST) ? 1 : 0;
    HWND users = page(Users);
    v.beepOnNewUser = checked(users, IDC_BEEP);
    v.mailOnNewUser = checked(users, IDC_MAIL_ON_NEW_USER);
    v.popupOnNewUser = checked(users, IDC_POPUP);
    HWND mail = page(Mail);
    v.dailyReport = checked(mail, IDC_DAILY_REPORT);
    v.mailAddress = itemText(mail, IDC_MAIL_ADDRESS);
    v.smtpServer = itemText(mail, IDC_SMTP_SERVER);
    v.dailyReportTime = itemText(mail, IDC_DAILY_REPORT_TIME);
    HWND report = page(Report);
    v.reportAutoUpdate = checked(report, IDC_AUTO_UPDATE);
    v.reportPath = itemText(report, IDC_REPORT_PATH);
    v.reportLimit = checked(report, IDC_REPORT_LIMIT);
    v.reportLimitIndex = reportLimitIndex();
}

void OptionsSheet::showTab(int index)
{
    if (index < 0 || index >= TabCount)
        return;
    TabCtrl_SetCurSel(tabs(), index);
    for (int i = 0; i < TabCount; ++i)
        ShowWindow(page(i), i == index ? SW_SHOW : SW_HIDE);
}

int OptionsSheet::currentTab() const
{
    return TabCtrl_GetCurSel(tabs());
}

bool OptionsSheet::pageClick(HWND pageWindow, int control)
{
    if (pageWindow == page(Mail) && control == IDC_TEST_MAIL && m_deps.sendTestMail) {
        MonitorSettings typed = m_values.settings;
        store(typed);
        m_deps.sendTestMail(mailRelay(typed), typed.mailAddress, m_boxes, pageWindow);
        return true;
    }
    if (pageWindow == page(Report) && control == IDC_BROWSE) {
        if (auto chosen = m_deps.browseReport(hwnd()))
            setItemText(pageWindow, IDC_REPORT_PATH, *chosen);
        return true;
    }
    return false;
}

void OptionsSheet::accept()
{
    OptionsValue edited = m_values;
    store(edited.settings);
    edited.whiteList = m_whiteList->rows();
    edited.blackList = m_blackList->rows();
    const bool launch = checked(page(General), IDC_LAUNCH_ON_STARTUP);
    if (!m_closer.ok(edited, launch, {m_boxes, *m_autostart, m_deps.executablePath, hwnd()}))
        return;
    m_values = edited;
    end(IDOK);
}

bool OptionsSheet::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            accept();
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            end(IDCANCEL);
            return true;
        }
        return false;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_TABS && header->code == TCN_SELCHANGE) {
            showTab(currentTab());
            return true;
        }
        if (header->code == TTN_GETDISPINFOW && header->hwndFrom == TabCtrl_GetToolTips(tabs())) {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            static std::wstring tip;
            const auto tab = static_cast<int>(header->idFrom);
            tip = tab >= 0 && tab < TabCount ? wide(tabInfo[tab].tip) : std::wstring();
            info->lpszText = tip.data();
            answer = 0;
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

OptionsResult runOptionsWindow(const OptionsValue& values, MessageBoxes& boxes, HWND owner, const OptionsDeps& deps)
{
    OptionsSheet sheet(values, boxes, deps);
    sheet.runModal(owner);
    return sheet.outcome();
}

}  // namespace vantor::win
