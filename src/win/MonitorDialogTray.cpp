// The main window's tray icon, its tip and its flash, and the window's going to the tray and
// coming back from it.

#include "win/MonitorDialog.h"

#include <shellapi.h>

#include <algorithm>

namespace vantor::win {

namespace {

NOTIFYICONDATAW trayData(HWND window)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    return data;
}

}  // namespace

void MonitorDialog::setUpTray()
{
    m_trayIcons[0] = icon(IDI_TRAY, GetSystemMetrics(SM_CXSMICON));
    m_trayIcons[1] = icon(IDI_TRAY_USER, GetSystemMetrics(SM_CXSMICON));
    m_trayIcon = IDI_TRAY;
    addTrayIcon();
}

void MonitorDialog::addTrayIcon()
{
    NOTIFYICONDATAW data = trayData(hwnd());
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    data.hIcon = m_trayIcons[m_trayIcon == IDI_TRAY_USER ? 1 : 0];
    const std::wstring tip = wide(m_trayTip).substr(0, std::size(data.szTip) - 1);
    std::copy(tip.begin(), tip.end(), data.szTip);
    m_trayAdded = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void MonitorDialog::removeTrayIcon()
{
    if (!m_trayAdded)
        return;
    NOTIFYICONDATAW data = trayData(hwnd());
    Shell_NotifyIconW(NIM_DELETE, &data);
    m_trayAdded = false;
}

void MonitorDialog::setTrayTip(std::string tip)
{
    m_trayTip = std::move(tip);
    if (!m_trayAdded)
        return;
    NOTIFYICONDATAW data = trayData(hwnd());
    data.uFlags = NIF_TIP;
    const std::wstring text = wide(m_trayTip).substr(0, std::size(data.szTip) - 1);
    std::copy(text.begin(), text.end(), data.szTip);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void MonitorDialog::setTrayIcon(int id)
{
    m_trayIcon = id;
    if (!m_trayAdded)
        return;
    NOTIFYICONDATAW data = trayData(hwnd());
    data.uFlags = NIF_ICON;
    data.hIcon = m_trayIcons[id == IDI_TRAY_USER ? 1 : 0];
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void MonitorDialog::flashTick()
{
    setTrayIcon(m_flashPhase ? IDI_TRAY_USER : IDI_TRAY);
    m_flashPhase = !m_flashPhase;
}

void MonitorDialog::startFlash()
{
    // A second start restarts the period, as SetTimer does with the same id.
    if (m_face.mainVisible())
        return;
    SetTimer(hwnd(), TIMER_FLASH, m_deps.flashIntervalMs, nullptr);
    m_flashing = true;
}

void MonitorDialog::newUserArrived(bool beep, bool popup)
{
    if (beep) {
        if (m_deps.beep)
            m_deps.beep();
        else
            MessageBeep(MB_OK);
    }
    if (popup)
        showFromTray();
}

// --- showing and hiding -------------------------------------------------------------------------

void MonitorDialog::showFromTray()
{
    KillTimer(hwnd(), TIMER_FLASH);
    m_flashing = false;
    setTrayIcon(IDI_TRAY);
    ShowWindow(hwnd(), IsIconic(hwnd()) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd());
    m_face.setMainVisible(true);
}

void MonitorDialog::hideAnimated()
{
    if (m_sliding)
        return;
    if (!m_deps.animations || !m_trayAdded) {
        hideNow();
        return;
    }
    m_sliding = true;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(hwnd(), &placement);
    RECT before;
    GetWindowRect(hwnd(), &before);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    for (int y = placement.rcNormalPosition.top; y < screenHeight; y += 30) {
        SetWindowPos(hwnd(), nullptr, placement.rcNormalPosition.left, y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        UpdateWindow(hwnd());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(15);
    }
    hideNow();
    SetWindowPos(hwnd(), nullptr, before.left, before.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    m_sliding = false;
}

void MonitorDialog::hideNow()
{
    // Without a tray icon a hidden window could never come back: it is minimised instead.
    if (!m_trayAdded) {
        ShowWindow(hwnd(), SW_MINIMIZE);
        return;
    }
    ShowWindow(hwnd(), SW_HIDE);
    m_face.setMainVisible(false);
}

}  // namespace vantor::win
