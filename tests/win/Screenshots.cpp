// Pictures of the main window, the tray menu, the Options window and the open-files and shares
// windows as they are on the screen, for a person to look at (kept in the build folder). Only when
// VANTOR_SCREENSHOT_DIR names where.

#include "TempDir.h"
#include "engine/Commands.h"
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
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
                            0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
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
    bool isDirectoryOrUnreadable(const std::string& path) const override
    {
        return !path.empty() && path.back() == '\\';
    }
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
    ManualClock clock;
    // Sessions as a server that tells more than the three columns gives them.
    auto file = [](uint32_t id, const char* share, const char* inside, bool write) {
        NetFileInfo f;
        f.id = id;
        f.path = std::string("C:\\Shares\\") + share + "\\" + inside;
        f.details.share = share;
        f.details.relativePath = inside;
        f.details.read = true;
        f.details.write = write;
        f.details.denyMode = write ? "write" : "none";
        f.details.oplock = write ? "batch" : "level II";
        f.details.locks = write ? 1 : 0;
        f.details.openedAt = 1'700'000'000 - 600;
        return f;
    };
    auto session = [&](const char* user, const char* computer, std::vector<std::string> shares, int64_t since,
                       std::vector<NetFileInfo> files) {
        FakeSession s{user, computer, std::move(files), std::nullopt, {}};
        s.details.shares = std::move(shares);
        s.details.connectedAt = clock.now() - since;
        s.details.idleSeconds = since / 3;
        s.details.dialect = "SMB3_11";
        s.details.encryption = "none";
        s.details.signing = "AES-128-GMAC";
        return s;
    };
    net.setSessions({session("alice", "ACCOUNTS-PC", {"Reports", "Letters"}, 3725,
                             {file(1, "Reports", "2026 budget.xlsx", true), file(2, "Reports", "Archive\\", false),
                              file(3, "Letters", "offer.txt", false)}),
                     session("bob", "192.168.1.20", {"Tools"}, 420, {file(4, "Tools", "setup.exe", false)}),
                     session("carol", "RECEPTION", {"Letters"}, 60, {})});
    net.setShares(
        {{"Letters", "C:\\Shares\\Letters"}, {"Reports", "C:\\Shares\\Reports"}, {"Tools", "C:\\Shares\\Tools"}});
    RecordingMessageBoxes boxes;
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
    // A row's tooltip: its session's details, the cursor resting on it.
    {
        RECT row{};
        ListView_GetItemRect(main.sessionsList(), 2, &row, LVIR_BOUNDS);
        POINT at{row.left + 40, (row.top + row.bottom) / 2};
        ClientToScreen(main.sessionsList(), &at);
        SetCursorPos(at.x - 5, at.y);
        pumpFor(100);
        SetCursorPos(at.x, at.y);
        pumpFor(2000);
        RECT area = windowRect(main.hwnd());
        area.right += 200;
        area.bottom += 60;
        EXPECT_TRUE(capture(area, shotDir / "main-window-tooltip.bmp"));
        SetCursorPos(5, 5);
        pumpFor(300);
    }
    // The session details, to the right of the three columns.
    ListView_Scroll(main.sessionsList(), 400, 0);
    pumpFor(300);
    EXPECT_TRUE(capture(windowRect(main.hwnd()), shotDir / "main-window-details.bmp"));
    ListView_Scroll(main.sessionsList(), -400, 0);

    // Every user's open files, and the shares in use, each beside the main window.
    SendMessageW(main.hwnd(), WM_COMMAND, IDM_OPEN_FILES_WINDOW, 0);
    ASSERT_NE(main.openFilesWindow(), nullptr);
    SetWindowPos(main.openFilesWindow()->hwnd(), HWND_TOP, 40, 370, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    engine.waitForWorker();
    pumpFor(800);
    list::select(main.openFilesWindow()->listView(), 1);
    pumpFor(200);
    EXPECT_TRUE(capture(windowRect(main.openFilesWindow()->hwnd()), shotDir / "open-files.bmp"));
    ShowWindow(main.openFilesWindow()->hwnd(), SW_HIDE);
    SendMessageW(main.hwnd(), WM_COMMAND, IDM_SHARES_WINDOW, 0);
    ASSERT_NE(main.sharesWindow(), nullptr);
    SetWindowPos(main.sharesWindow()->hwnd(), HWND_TOP, 40, 420, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    engine.waitForWorker();
    pumpFor(800);
    EXPECT_TRUE(capture(windowRect(main.sharesWindow()->hwnd()), shotDir / "shares.bmp"));
    ShowWindow(main.sharesWindow()->hwnd(), SW_HIDE);
    pumpFor(200);

    // The tray menu, opened as the right button on the icon opens it, pictured while it is up.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 60, GetSystemMetrics(SM_CYSCREEN) - 60);
    SetTimer(nullptr, 0, 700, &captureMenu);
    SendMessageW(main.hwnd(), WM_TRAY_CALLBACK, TRAY_ICON_ID, WM_RBUTTONDOWN);
    EXPECT_TRUE(std::filesystem::exists(shotDir / "tray-menu.bmp"));

    OptionsSheet sheet(optionsOf(engine.monitor()), engine.monitor().boxes(), deps.options);
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
