// Pictures of the main window, the tray menu and the Options window as they are on the screen,
// for a person to look at (kept in the build folder). Only when VANTOR_SCREENSHOT_DIR names where.

#include "TempDir.h"
#include "engine/Engine.h"
#include "demo/FakeNetManagement.h"
#include "win/MonitorDialog.h"
#include "win/OptionsSheet.h"
#include "win/WinMonitorFace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace vantor::win {
namespace {

void pumpFor(DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    while (GetTickCount() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// The screen's pixels in `area` as a 24-bit BMP file.
bool capture(RECT area, const std::filesystem::path& file)
{
    const int w = area.right - area.left, h = area.bottom - area.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) / 4) * 4;
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                            sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    out.write(static_cast<const char*>(bits), size);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out.good();
}

RECT windowRect(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    return r;
}

std::filesystem::path shotDir;

void CALLBACK captureMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    capture(screen, shotDir / "tray-menu.bmp");
    EndMenu();
}

// The made-up paths do not exist here: a trailing backslash marks the folders.
class SlashInspector final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string& path) const override { return !path.empty() && path.back() == '\\'; }
};

TEST(Screenshots, MainWindowTrayMenuAndOptions)
{
    const char* where = std::getenv("VANTOR_SCREENSHOT_DIR");
    if (!where || !*where || GetSystemMetrics(SM_CXSCREEN) < 640)
        GTEST_SKIP() << "no screen for pictures";
    shotDir = where;
    std::filesystem::create_directories(shotDir);

    test::TempDir dir;
    FakeNetManagement net;
    net.addSession("alice", "ACCOUNTS-PC", {"C:\\Shares\\Reports\\2026 budget.xlsx", "C:\\Shares\\Reports\\",
                                            "C:\\Shares\\Letters\\offer.txt"});
    net.addSession("bob", "192.168.1.20", {"C:\\Shares\\Tools\\setup.exe"});
    net.addSession("carol", "RECEPTION");
    RecordingMessageBoxes boxes;
    ManualClock clock;
    EngineOptions options;
    options.pollMode = EngineOptions::PollMode::LoopThread;
    options.history = false;
    SlashInspector inspector;
    Engine engine({net, boxes, clock, dir.path(), &inspector}, options);
    WinMonitorFace face(engine);
    MonitorDialogDeps deps;
    deps.animations = false;
    MonitorDialog main(face, deps);
    ASSERT_NE(main.create(nullptr), nullptr);
    SetWindowPos(main.hwnd(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    list::select(main.sessionsList(), 2);
    NMITEMACTIVATE n{};
    n.hdr = {main.sessionsList(), IDC_SESSIONS, static_cast<UINT>(NM_CLICK)};
    SendMessageW(main.hwnd(), WM_NOTIFY, IDC_SESSIONS, reinterpret_cast<LPARAM>(&n));
    pumpFor(800);
    EXPECT_TRUE(capture(windowRect(main.hwnd()), shotDir / "main-window.bmp"));

    // The tray menu, opened as the right button on the icon opens it, pictured while it is up.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 60, GetSystemMetrics(SM_CYSCREEN) - 60);
    SetTimer(nullptr, 0, 700, &captureMenu);
    SendMessageW(main.hwnd(), WM_TRAY_CALLBACK, TRAY_ICON_ID, WM_RBUTTONDOWN);
    EXPECT_TRUE(std::filesystem::exists(shotDir / "tray-menu.bmp"));

    OptionsSheet sheet(engine.monitor(), optionsFromSettings(engine.monitor().settings), deps.options);
    ASSERT_NE(sheet.create(main.hwnd()), nullptr);
    SetWindowPos(sheet.hwnd(), HWND_TOP, 700, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    pumpFor(500);
    EXPECT_TRUE(capture(windowRect(sheet.hwnd()), shotDir / "options-general.bmp"));
    sheet.showTab(OptionsSheet::Report);
    pumpFor(300);
    EXPECT_TRUE(capture(windowRect(sheet.hwnd()), shotDir / "options-report.bmp"));
    sheet.showTab(OptionsSheet::BlackList);
    pumpFor(300);
    EXPECT_TRUE(capture(windowRect(sheet.hwnd()), shotDir / "options-black-list.bmp"));
    DestroyWindow(sheet.hwnd());

    // Nobody connected: the label over the empty table, after the timer message.
    net.setSessions({});
    face.poll();
    SendMessageW(main.hwnd(), WM_TIMER, TIMER_POLL, 0);
    pumpFor(400);
    EXPECT_TRUE(capture(windowRect(main.hwnd()), shotDir / "main-window-empty.bmp"));
}

}  // namespace
}  // namespace vantor::win
