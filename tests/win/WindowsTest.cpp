// The Windows program's windows, created in this process and driven by their messages (menu
// commands, list-view notifications, button clicks, tray callbacks), checked against the engine's
// state on the fake network-management service. Runs under Wine with a display.

#include "DetailedSessions.h"
#include "FakeAutostart.h"
#include "TempDir.h"
#include "engine/Commands.h"
#include "engine/Engine.h"
#include "history/HistoryLog.h"
#include "base/TimeText.h"
#include "demo/FakeNetManagement.h"
#include "monitor/DetailsText.h"
#include "win/HistoryDialog.h"
#include "win/MonitorDialog.h"
#include "win/OptionsSheet.h"
#include "win/SmallDialogs.h"
#include "win/WinMonitorFace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace vantor::win {
namespace {

using namespace std::chrono_literals;
using vantor::test::detailedSession;
using vantor::test::sharedFile;

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pump();
        Sleep(10);
    }
    return true;
}

// A modal window of this thread with `caption`, answered by `answer` once it is up: the modal
// loop runs this thread's timer callbacks while it waits.
struct ModalAnswer {
    static inline std::string caption;
    static inline std::function<void(HWND)> answer;
    static inline bool answered = false;

    static void arm(std::string c, std::function<void(HWND)> a)
    {
        caption = std::move(c);
        answer = std::move(a);
        answered = false;
        SetTimer(nullptr, 0, 30, &ModalAnswer::tick);
    }
    static HWND find()
    {
        HWND found = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM out) -> BOOL {
                wchar_t cls[16] = {};
                GetClassNameW(w, cls, 16);
                if (std::wstring(cls) == L"#32770" && IsWindowVisible(w) && windowText(w) == caption) {
                    *reinterpret_cast<HWND*>(out) = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR id, DWORD)
    {
        HWND w = find();
        if (!w || answered)
            return;
        answered = true;
        KillTimer(nullptr, id);
        answer(w);
    }
};

void click(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A click on a row as the list view reports it: the row selected, then NM_CLICK to its parent.
void clickRow(HWND view, std::optional<int> row)
{
    list::select(view, row);
    NMITEMACTIVATE n{};
    n.hdr.hwndFrom = view;
    n.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(view));
    n.hdr.code = NM_CLICK;
    n.iItem = row.value_or(-1);
    SendMessageW(GetParent(view), WM_NOTIFY, n.hdr.idFrom, reinterpret_cast<LPARAM>(&n));
}

std::vector<std::string> column(HWND view, int c)
{
    std::vector<std::string> out;
    for (int r = 0; r < list::rowCount(view); ++r)
        out.push_back(list::cell(view, r, c));
    return out;
}

using Strings = std::vector<std::string>;

// The page of an Options window that holds control `id`.
HWND pageWith(HWND sheet, int id)
{
    for (HWND page = FindWindowExW(sheet, nullptr, L"#32770", nullptr); page;
         page = FindWindowExW(sheet, page, L"#32770", nullptr))
        if (GetDlgItem(page, id))
            return page;
    return nullptr;
}

// Paths that end in a slash are folders; the rest files.
class SlashInspector final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string& path) const override
    {
        return !path.empty() && path.back() == '\\';
    }
};

EngineOptions engineOptions()
{
    EngineOptions o;
    o.pollMode = EngineOptions::PollMode::LoopThread;
    o.pollInterval = std::chrono::hours(1);  // the tests poll themselves
    o.history = false;
    return o;
}

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest()
        : engine({net, boxes, clock, dir.path(), &inspector}, engineOptions())
        , face(engine)
    {
        deps.animations = false;
        deps.options.autostart = &autostart;
        deps.options.executablePath = "C:\\Vantor\\vantor.exe";
        deps.options.accounts = &net;
        deps.shell = &shell;
    }

    MonitorDialog& openMain()
    {
        main = std::make_unique<MonitorDialog>(face, deps);
        EXPECT_NE(main->create(nullptr), nullptr);
        pump();
        return *main;
    }
    void poll()
    {
        face.poll();
        engine.waitForWorker();
        pump();
    }
    SessionMonitor& monitor() { return engine.monitor(); }
    std::string readFile(const std::string& name) { return dir.read(name); }

    struct RecordingShell final : DesktopShell {
        bool exploreFolder(const std::string& f, void*) override
        {
            folders.push_back(f);
            return true;
        }
        bool exploreComputer(const std::string& c, void*) override
        {
            computers.push_back(c);
            return true;
        }
        Strings folders, computers;
    } shell;

    test::TempDir dir;
    FakeNetManagement net;
    RecordingMessageBoxes boxes;
    ManualClock clock;
    SlashInspector inspector;
    test::FakeAutostart autostart;
    Engine engine;
    WinMonitorFace face;
    MonitorDialogDeps deps;
    std::unique_ptr<MonitorDialog> main;
};

// --- the main window ----------------------------------------------------------------------------

TEST_F(WindowsTest, TablesShowThePollAndTheClickedSessionsFiles)
{
    net.addSession("alice", "PC1", {"C:\\share\\a.txt", "C:\\share\\docs\\"});
    net.addSession("bob", "PC2");
    net.addSession("carol", "PC3", {"C:\\share\\c.doc"});
    MonitorDialog& w = openMain();

    // The enumeration's order reversed, each row with its three cells.
    EXPECT_EQ(column(w.sessionsList(), 0), (Strings{"carol", "bob", "alice"}));
    EXPECT_EQ(column(w.sessionsList(), 1), (Strings{"PC3", "PC2", "PC1"}));
    EXPECT_EQ(column(w.sessionsList(), 2), (Strings{"1", "0", "2"}));
    EXPECT_EQ(windowText(w.caption()), "Current sessions:");
    EXPECT_EQ(windowText(w.hwnd()), "Vantor");
    SendMessageW(w.hwnd(), WM_TIMER, TIMER_POLL, 0);
    EXPECT_FALSE(IsWindowVisible(w.noUsersLabel()));

    // A click on alice's row lists her files, the last enumerated on top, each with its picture:
    // the folder for the folder, the shell's for the document.
    clickRow(w.sessionsList(), 2);
    EXPECT_EQ(monitor().selectedSessionRow(), 2);
    EXPECT_EQ(column(w.filesList(), 0), (Strings{"C:\\share\\docs\\", "C:\\share\\a.txt"}));
    ASSERT_EQ(w.fileImageSources().size(), 2u);
    EXPECT_NE(w.fileImageSources()[0], 0);  // a.txt, enumerated first: image 0
    EXPECT_EQ(w.fileImageSources()[1], 0);  // the folder
    LVITEMW top{};
    top.mask = LVIF_IMAGE;
    SendMessageW(w.filesList(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&top));
    EXPECT_EQ(top.iImage, 1);

    // The selection follows the index: a newcomer on top moves bob under row 2, whose files show.
    net.addSession("dave", "PC4");
    poll();
    EXPECT_EQ(column(w.sessionsList(), 0), (Strings{"dave", "carol", "bob", "alice"}));
    EXPECT_EQ(list::selected(w.sessionsList()), 2);
    EXPECT_EQ(list::rowCount(w.filesList()), 0);

    // Nobody left: both tables empty, and the label shows after the next timer message.
    net.setSessions({});
    poll();
    EXPECT_EQ(list::rowCount(w.sessionsList()), 0);
    SendMessageW(w.hwnd(), WM_TIMER, TIMER_POLL, 0);
    EXPECT_TRUE(IsWindowVisible(w.noUsersLabel()));
}

TEST_F(WindowsTest, MenuCommandsActOnTheSelectedRows)
{
    net.addSession("alice", "PC1", {"C:\\share\\a.txt"});
    net.addSession("bob", "PC2", {"C:\\share\\b.txt"});
    MonitorDialog& w = openMain();
    clickRow(w.sessionsList(), 1);  // alice
    ASSERT_EQ(column(w.filesList(), 0), (Strings{"C:\\share\\a.txt"}));

    SendMessageW(w.hwnd(), WM_COMMAND, IDM_CONNECT_TO_USER, 0);
    EXPECT_EQ(shell.computers, (Strings{"PC1"}));
    list::select(w.filesList(), 0);
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_OPEN_FOLDER, 0);
    EXPECT_EQ(shell.folders, (Strings{"C:\\share"}));
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_CLOSE_RESOURCE, 0);
    engine.waitForWorker();
    EXPECT_EQ(net.closedFileIds().size(), 1u);

    SendMessageW(w.hwnd(), WM_COMMAND, IDM_BLACK_BOTH, 0);
    EXPECT_TRUE(monitor().mustCloseSession("alice", "PC1"));
    EXPECT_FALSE(monitor().mustCloseSession("alice", "PC9"));
    EXPECT_EQ(readFile("blist.dat"), "alice PC1\n");

    SendMessageW(w.hwnd(), WM_COMMAND, IDM_CLOSE_SESSION, 0);
    engine.waitForWorker();
    pump();
    ASSERT_EQ(net.deleteCalls().size(), 1u);
    EXPECT_EQ(net.deleteCalls()[0].user, "alice");
    EXPECT_EQ(list::rowCount(w.filesList()), 0);  // emptied by the close

    // No row selected: "Close session" closes nothing.
    clickRow(w.sessionsList(), std::nullopt);
    const std::size_t shownBefore = boxes.shown.size();
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_CLOSE_SESSION, 0);
    engine.waitForWorker();
    EXPECT_EQ(net.deleteCalls().size(), 1u);
    EXPECT_EQ(boxes.shown.size(), shownBefore);

    SendMessageW(w.hwnd(), WM_COMMAND, IDM_CLOSE_ALL_SESSIONS, 0);
    engine.waitForWorker();
    EXPECT_GE(net.deleteCalls().size(), 2u);
}

TEST_F(WindowsTest, TrayHidesFlashesAndBringsTheWindowBack)
{
    MonitorDialog& w = openMain();
    ASSERT_TRUE(IsWindowVisible(w.hwnd()));
    // Escape and Enter do nothing; the close box hides into the tray.
    SendMessageW(w.hwnd(), WM_COMMAND, IDCANCEL, 0);
    SendMessageW(w.hwnd(), WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindowVisible(w.hwnd()));

    if (!w.trayIconAdded())
        GTEST_SKIP() << "no notification area here";
    SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(w.hwnd()));
    EXPECT_FALSE(face.mainVisible());

    // A newcomer while hidden: the icon alternates with every flash tick.
    net.addSession("alice", "PC1");
    poll();
    ASSERT_TRUE(w.flashing());
    SendMessageW(w.hwnd(), WM_TIMER, TIMER_FLASH, 0);
    const int first = w.trayIcon();
    SendMessageW(w.hwnd(), WM_TIMER, TIMER_FLASH, 0);
    EXPECT_NE(w.trayIcon(), first);
    EXPECT_TRUE(w.trayIcon() == IDI_TRAY || w.trayIcon() == IDI_TRAY_USER);

    // The left button on the icon: back, no flash, the normal icon.
    SendMessageW(w.hwnd(), WM_TRAY_CALLBACK, TRAY_ICON_ID, WM_LBUTTONDOWN);
    EXPECT_TRUE(IsWindowVisible(w.hwnd()));
    EXPECT_FALSE(w.flashing());
    EXPECT_EQ(w.trayIcon(), IDI_TRAY);
    EXPECT_TRUE(face.mainVisible());

    // A newcomer while shown: no flash. "Hide" hides; "Main dialog" brings it back.
    net.addSession("bob", "PC2");
    poll();
    EXPECT_FALSE(w.flashing());
    click(w.hwnd(), IDC_HIDE);
    EXPECT_FALSE(IsWindowVisible(w.hwnd()));
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_MAIN_DIALOG, 0);
    EXPECT_TRUE(IsWindowVisible(w.hwnd()));

    // "Exit": the poll timer stops and the icon goes.
    EXPECT_TRUE(face.pollTimerActive());
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(w.ended());
    EXPECT_FALSE(w.trayIconAdded());
    EXPECT_FALSE(face.pollTimerActive());
}

TEST_F(WindowsTest, SplitterMovesTheTablesWithinItsLimits)
{
    MonitorDialog& w = openMain();
    auto height = [](HWND h) {
        RECT r;
        GetWindowRect(h, &r);
        return r.bottom - r.top;
    };
    const int sessions = height(w.sessionsList());
    const int files = height(w.filesList());
    w.splitter().moveBy(30);
    EXPECT_EQ(height(w.sessionsList()), sessions + 30);
    EXPECT_EQ(height(w.filesList()), files - 30);
    w.splitter().moveBy(500);
    EXPECT_EQ(w.splitter().offset(), 50);
    w.splitter().moveBy(-500);
    EXPECT_EQ(w.splitter().offset(), -100);
    EXPECT_EQ(height(w.sessionsList()), sessions - 100);
}

TEST_F(WindowsTest, RemoteServerButtonMonitorsTheNamedServer)
{
    FakeSession farSession;
    farSession.user = "zoe";
    farSession.computer = "FARPC";
    net.setServerSessions("far", {farSession});
    MonitorDialog& w = openMain();

    ModalAnswer::arm("Input", [](HWND input) {
        EXPECT_EQ(itemText(input, IDC_SERVER_NAME), "127.0.0.1");
        setItemText(input, IDC_SERVER_NAME, "far");
        click(input, IDOK);
    });
    click(w.hwnd(), IDC_REMOTE_SERVER);
    engine.waitForWorker();
    pump();
    EXPECT_TRUE(ModalAnswer::answered);
    EXPECT_EQ(windowText(w.caption()), "Current sessions: (server:far)");
    EXPECT_EQ(column(w.sessionsList(), 0), (Strings{"zoe"}));

    // An unreachable one: its error once, and this computer again.
    ModalAnswer::arm("Input", [](HWND input) {
        setItemText(input, IDC_SERVER_NAME, "nowhere");
        click(input, IDOK);
    });
    click(w.hwnd(), IDC_REMOTE_SERVER);
    engine.waitForWorker();
    pump();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_EQ(windowText(w.caption()), "Current sessions: (the poll failed)");
}

// --- the session details, every user's open files, the shares ---------------------------------

std::string heading(HWND view, int c)
{
    wchar_t text[64] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = text;
    col.cchTextMax = 64;
    ListView_GetColumn(view, c, &col);
    return utf8(text);
}

void clickTitle(HWND view, int c)
{
    NMLISTVIEW n{};
    n.hdr = {view, static_cast<UINT_PTR>(GetDlgCtrlID(view)), static_cast<UINT>(LVN_COLUMNCLICK)};
    n.iItem = -1;
    n.iSubItem = c;
    SendMessageW(GetParent(view), WM_NOTIFY, n.hdr.idFrom, reinterpret_cast<LPARAM>(&n));
}

std::string infoTip(HWND view, int row)
{
    wchar_t text[512] = {};
    NMLVGETINFOTIPW tip{};
    tip.hdr = {view, static_cast<UINT_PTR>(GetDlgCtrlID(view)), static_cast<UINT>(LVN_GETINFOTIPW)};
    tip.pszText = text;
    tip.cchTextMax = 512;
    tip.iItem = row;
    SendMessageW(GetParent(view), WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    return utf8(text);
}

TEST_F(WindowsTest, SessionDetailColumnsSortAndHide)
{
    const int64_t now = clock.now();
    net.setSessions({detailedSession("alice", "pc1", {"docs", "media"}, now - 3725),
                     detailedSession("bob", "pc2", {"docs"}, now - 60),
                     detailedSession("carol", "pc3", {}, now - 7200)});
    MonitorDialog& w = openMain();
    HWND view = w.sessionsList();
    const int shares = 3 + static_cast<int>(SessionDetailColumn::Shares);
    const int time = 3 + static_cast<int>(SessionDetailColumn::ConnectedTime);
    const int process = 3 + static_cast<int>(SessionDetailColumn::ProcessId);

    // User, computer and open files first and unchanged; the details after them.
    EXPECT_EQ(column(view, 0), (Strings{"carol", "bob", "alice"}));
    EXPECT_EQ(heading(view, 2), "# Open files");
    EXPECT_EQ(heading(view, shares), "Shares");
    EXPECT_EQ(column(view, shares), (Strings{"", "docs", "docs, media"}));
    EXPECT_EQ(w.sessionsTipText(2), sessionTooltip(monitor().sessionRows()[2], now));
    EXPECT_EQ(w.sessionsTipText(std::nullopt), "Current sessions. Right click mouse to open context menu");

    // Process and uid start hidden; the three columns cannot be hidden; a detail can.
    EXPECT_FALSE(w.sessionColumns().shown(process));
    EXPECT_EQ(ListView_GetColumnWidth(view, process), 0);
    w.sessionColumns().setShown(0, false);
    EXPECT_TRUE(w.sessionColumns().shown(0));
    w.sessionColumns().setShown(process, true);
    EXPECT_GT(ListView_GetColumnWidth(view, process), 0);
    w.sessionColumns().setShown(shares, false);
    EXPECT_EQ(ListView_GetColumnWidth(view, shares), 0);

    // A title click sorts by the connected time, longest last; again, longest first.
    clickTitle(view, time);
    EXPECT_EQ(column(view, 0), (Strings{"bob", "alice", "carol"}));
    clickTitle(view, time);
    EXPECT_EQ(column(view, 0), (Strings{"carol", "alice", "bob"}));
    // The selection names the session shown, not the face's row at that index, also over a poll.
    clickRow(view, 2);
    ASSERT_TRUE(monitor().selectedSessionRow().has_value());
    EXPECT_EQ(monitor().sessionRows()[static_cast<std::size_t>(*monitor().selectedSessionRow())].user, "bob");
    poll();
    EXPECT_EQ(column(view, 0), (Strings{"carol", "alice", "bob"}));
    EXPECT_EQ(list::selected(view), 2);
    // The third click: the face's order again.
    clickTitle(view, time);
    EXPECT_EQ(column(view, 0), (Strings{"carol", "bob", "alice"}));
    EXPECT_EQ(list::selected(view), 1);
}

TEST_F(WindowsTest, ColumnsShownAndTheirWidthsAreKeptInTheLayoutFile)
{
    const LayoutFile layout(dir / "layout.ini");
    auto listView = [] {
        return CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 400, 200, HWND_MESSAGE, nullptr,
                               resources(), nullptr);
    };
    const std::vector<ListColumns::Column> columns = {
        {"User", 150, true}, {"Shares", 120}, {"Process", 70, false, true}};
    HWND first = listView();
    ListColumns before;
    before.setUp(first, columns, layout, "sessions");
    EXPECT_FALSE(before.shown(2));
    before.setShown(1, false);
    before.setShown(2, true);
    ListView_SetColumnWidth(first, 0, 180);
    before.save();
    DestroyWindow(first);

    HWND second = listView();
    ListColumns after;
    after.setUp(second, columns, layout, "sessions");
    EXPECT_FALSE(after.shown(1));
    EXPECT_TRUE(after.shown(2));
    EXPECT_EQ(ListView_GetColumnWidth(second, 0), 180);
    // Shown again, a hidden column has its width back.
    after.setShown(1, true);
    EXPECT_EQ(ListView_GetColumnWidth(second, 1), 120);
    DestroyWindow(second);

    // A layout of other columns (an older program's) is not applied to these.
    layout.save("sessions", "widths", {10, 10});
    HWND third = listView();
    ListColumns other;
    other.setUp(third, columns, layout, "sessions");
    EXPECT_EQ(ListView_GetColumnWidth(third, 0), 150);
    EXPECT_FALSE(other.shown(2));
    DestroyWindow(third);
}

TEST_F(WindowsTest, OpenFilesWindowFiltersSortsAndCloses)
{
    const int64_t now = clock.now();
    net.setSessions(
        {detailedSession("alice", "pc1", {"docs"}, now, {sharedFile(11, "docs", "finance/budget.ods", true)}),
         detailedSession(
             "bob", "pc2", {"docs"}, now,
             {sharedFile(12, "docs", "finance/budget.ods", false), sharedFile(13, "docs", "notes.txt", false)}),
         detailedSession("carol", "10.0.0.9", {"media"}, now, {sharedFile(14, "media", "intro.mp4", false)})});
    MonitorDialog& w = openMain();
    EXPECT_FALSE(monitor().listAllFiles());
    click(w.hwnd(), IDC_OPEN_FILES_BUTTON);
    OpenFilesWindow* files = w.openFilesWindow();
    ASSERT_NE(files, nullptr);
    EXPECT_TRUE(IsWindowVisible(files->hwnd()));
    EXPECT_EQ(windowText(files->hwnd()), "Open files");
    // Opening the window asks for every user's files and polls for them at once.
    EXPECT_TRUE(monitor().listAllFiles());
    engine.waitForWorker();
    pump();
    HWND view = files->listView();
    EXPECT_EQ(list::rowCount(view), 4);
    EXPECT_EQ(heading(view, static_cast<int>(OpenFileColumn::DenyMode)), "Deny mode");
    EXPECT_EQ(infoTip(view, 0), "/srv/docs/finance/budget.ods");

    // Made larger, the list takes the room and the button stays in the bottom right corner;
    // smaller than designed it cannot be made.
    auto inClient = [&](int id) {
        RECT r;
        GetWindowRect(GetDlgItem(files->hwnd(), id), &r);
        MapWindowPoints(nullptr, files->hwnd(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    auto clientOf = [&] {
        RECT c;
        GetClientRect(files->hwnd(), &c);
        return c;
    };
    RECT frame;
    GetWindowRect(files->hwnd(), &frame);
    const RECT button = inClient(IDC_CLOSE_LISTED_FILE), listBefore = inClient(IDC_ALL_FILES), client = clientOf();
    SetWindowPos(files->hwnd(), nullptr, 0, 0, frame.right - frame.left + 200, frame.bottom - frame.top + 100,
                 SWP_NOMOVE | SWP_NOZORDER);
    const RECT moved = inClient(IDC_CLOSE_LISTED_FILE), listAfter = inClient(IDC_ALL_FILES), bigger = clientOf();
    EXPECT_EQ(bigger.right - moved.right, client.right - button.right);
    EXPECT_EQ(bigger.bottom - moved.bottom, client.bottom - button.bottom);
    EXPECT_EQ(listAfter.right - listAfter.left, listBefore.right - listBefore.left + (bigger.right - client.right));
    MINMAXINFO limits{};
    SendMessageW(files->hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, frame.right - frame.left);

    // "Who holds budget.ods open?"
    setWindowText(files->filterBox(), "BUDGET");
    const int user = static_cast<int>(OpenFileColumn::User);
    Strings who = column(view, user);
    std::sort(who.begin(), who.end());
    EXPECT_EQ(who, (Strings{"alice", "bob"}));
    EXPECT_EQ(windowText(files->statusLabel()), "2 of 4 open files");
    const int access = static_cast<int>(OpenFileColumn::Access);
    clickTitle(view, access);
    clickTitle(view, access);
    EXPECT_EQ(column(view, access), (Strings{"read/write", "read"}));

    // The selection follows the file over a poll.
    list::select(view, 0);
    poll();
    ASSERT_TRUE(list::selected(view).has_value());
    EXPECT_EQ(list::cell(view, *list::selected(view), user), "alice");

    // "Close resource" closes that open and the list drops it.
    click(files->hwnd(), IDC_CLOSE_LISTED_FILE);
    ASSERT_TRUE(waitFor([&] { return net.closedFileIds() == std::vector<uint32_t>{11}; }));
    ASSERT_TRUE(waitFor([&] { return list::rowCount(view) == 1; }));
    EXPECT_TRUE(boxes.shown.empty());
    // Nothing selected: the main window's answer.
    list::select(view, std::nullopt);
    click(files->hwnd(), IDC_CLOSE_LISTED_FILE);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Select a file!");

    // A service that cannot list them says so in the window; hiding it stops the listing.
    net.setStatus(FakeNetManagement::Op::EnumAllFiles, {netcode::AccessDenied, "Listing was refused."});
    poll();
    EXPECT_EQ(windowText(files->statusLabel()), "Listing was refused.");
    // Its keys come through the program's loop as a dialog's do: Escape in the filter hides it.
    MSG escape{files->filterBox(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_TRUE(w.translateDialogKeys(escape));
    pump();
    EXPECT_FALSE(IsWindowVisible(files->hwnd()));
    EXPECT_FALSE(monitor().listAllFiles());
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_OPEN_FILES_WINDOW, 0);
    EXPECT_TRUE(IsWindowVisible(files->hwnd()));
    SendMessageW(files->hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(files->hwnd()));
}

TEST_F(WindowsTest, SharesWindowAndTrayCounts)
{
    const int64_t now = clock.now();
    net.setSessions({detailedSession("alice", "pc1", {"docs", "media"}, now, {sharedFile(1, "docs", "a.txt", false)}),
                     detailedSession("bob", "pc2", {"docs"}, now)});
    MonitorDialog& w = openMain();
    EXPECT_EQ(w.trayTip(), "Vantor: 2 sessions, 1 open file");
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_SHARES_WINDOW, 0);
    SharesWindow* shares = w.sharesWindow();
    ASSERT_NE(shares, nullptr);
    EXPECT_TRUE(IsWindowVisible(shares->hwnd()));
    EXPECT_TRUE(monitor().listAllFiles());
    engine.waitForWorker();
    pump();
    HWND view = shares->listView();
    EXPECT_EQ(heading(view, 3), "Connected from");
    EXPECT_EQ(column(view, 0), (Strings{"docs", "media"}));
    EXPECT_EQ(column(view, 1), (Strings{"/srv/docs", ""}));
    EXPECT_EQ(column(view, 3), (Strings{"bob@pc2, alice@pc1", "alice@pc1"}));
    EXPECT_EQ(infoTip(view, 0), "bob@pc2\nalice@pc1");

    // The server's configuration names the folder of a share no file is open on.
    net.setShares({{"MEDIA", "/data/media"}, {"docs", "/srv/docs"}});
    poll();
    EXPECT_EQ(column(view, 1), (Strings{"/srv/docs", "/data/media"}));
    clickTitle(view, 2);
    EXPECT_EQ(column(view, 0), (Strings{"media", "docs"}));

    net.setSessions({detailedSession("bob", "pc2", {"docs"}, now)});
    poll();
    EXPECT_EQ(w.trayTip(), "Vantor: 1 session, 0 open files");
    EXPECT_EQ(column(view, 0), (Strings{"docs"}));
    SendMessageW(shares->hwnd(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(monitor().listAllFiles());
}

// --- the Options window -------------------------------------------------------------------------

TEST_F(WindowsTest, OptionsSheetShowsChecksAndReturnsTheSettings)
{
    dir.write("wlist.dat", "w1 PC1\nw2 PC2\n");
    OptionsValue values = optionsOf(monitor());
    values.settings.hideLocalUsers = 1;
    values.settings.logOpenedFiles = 1;
    values.settings.reportLimitIndex = 4;
    values.settings.dailyReportTime = "08:30";
    autostart.enabled = true;
    OptionsSheet sheet(values, boxes, deps.options);
    ASSERT_NE(sheet.create(nullptr), nullptr);
    ShowWindow(sheet.hwnd(), SW_SHOW);

    EXPECT_EQ(windowText(sheet.hwnd()), "Options");
    EXPECT_EQ(TabCtrl_GetItemCount(sheet.tabs()), 6);
    HWND general = sheet.page(OptionsSheet::General);
    EXPECT_TRUE(checked(general, IDC_HIDE_LOCAL_USERS));
    EXPECT_FALSE(checked(general, IDC_LOG_FILES));  // "Do not log opened files" is the inverse
    EXPECT_TRUE(checked(general, IDC_LAUNCH_ON_STARTUP));
    EXPECT_TRUE(checked(general, IDC_USE_BLACK_LIST));
    EXPECT_FALSE(checked(general, IDC_USE_WHITE_LIST));
    EXPECT_EQ(SendDlgItemMessageW(sheet.page(OptionsSheet::Report), IDC_REPORT_LIMIT_CHOICE, CB_GETCURSEL, 0, 0), 4);
    // The white list page shows its file, the last line on top.
    EXPECT_EQ(column(sheet.listPage(OptionsSheet::WhiteList).listView(), 0), (Strings{"w2", "w1"}));

    // Choosing a tab shows its page alone.
    TabCtrl_SetCurSel(sheet.tabs(), OptionsSheet::Mail);
    NMHDR change{sheet.tabs(), IDC_TABS, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(sheet.hwnd(), WM_NOTIFY, IDC_TABS, reinterpret_cast<LPARAM>(&change));
    EXPECT_TRUE(IsWindowVisible(sheet.page(OptionsSheet::Mail)));
    EXPECT_FALSE(IsWindowVisible(general));

    // A time without its colon third is refused and the window stays; the lists count already,
    // and are written in table order.
    HWND mail = sheet.page(OptionsSheet::Mail);
    setItemText(mail, IDC_DAILY_REPORT_TIME, "8:30");
    click(sheet.hwnd(), IDOK);
    EXPECT_FALSE(sheet.result().has_value());
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown.back().text, optionsText::wrongTime);
    EXPECT_EQ(sheet.outcome().closed, OptionsClosed::ListsAccepted);
    storeOptions(monitor(), sheet.outcome(), {});
    EXPECT_EQ(readFile("wlist.dat"), "w2 PC2\nw1 PC1\n");

    // A separator as the report limit is refused even with the limit off.
    setItemText(mail, IDC_DAILY_REPORT_TIME, "99:99");
    SendDlgItemMessageW(sheet.page(OptionsSheet::Report), IDC_REPORT_LIMIT_CHOICE, CB_SETCURSEL, 3, 0);
    click(sheet.hwnd(), IDOK);
    EXPECT_EQ(boxes.shown.back().text, optionsText::wrongReportLimit);
    EXPECT_FALSE(sheet.result().has_value());

    // Typed text naming an item selects it; the white list chosen; autostart off.
    setWindowText(GetDlgItem(sheet.page(OptionsSheet::Report), IDC_REPORT_LIMIT_CHOICE), "1 Week");
    setChecked(general, IDC_USE_WHITE_LIST, true);
    setChecked(general, IDC_USE_BLACK_LIST, false);
    setChecked(general, IDC_LAUNCH_ON_STARTUP, false);
    setChecked(general, IDC_LOG_FILES, true);
    setItemText(sheet.page(OptionsSheet::Report), IDC_REPORT_PATH, "C:\\web\\r.htm.bak");
    click(sheet.hwnd(), IDOK);
    ASSERT_EQ(sheet.result(), IDOK);
    EXPECT_EQ(sheet.values().settings.reportLimitIndex, 8);
    EXPECT_EQ(sheet.values().settings.useBlackList, 0);
    EXPECT_EQ(sheet.values().settings.logOpenedFiles, 0);
    EXPECT_EQ(sheet.values().settings.dailyReportTime, "99:99");
    EXPECT_EQ(sheet.values().settings.reportPath.get(), "C:\\web\\r.htm.bak");
    EXPECT_FALSE(autostart.enabled);
}

TEST_F(WindowsTest, OptionsCommandPutsTheAcceptedSettingsInForceOnlyOnOk)
{
    dir.write("blist.dat", "");
    MonitorDialog& w = openMain();
    ModalAnswer::arm("Options", [](HWND sheet) {
        HWND page = pageWith(sheet, IDC_HIDE_LOCAL_USERS);
        setChecked(page, IDC_HIDE_LOCAL_USERS, true);
        click(sheet, IDCANCEL);
    });
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_OPTIONS, 0);
    EXPECT_TRUE(ModalAnswer::answered);
    EXPECT_EQ(monitor().settings.hideLocalUsers, 0);

    ModalAnswer::arm("Options", [](HWND sheet) {
        HWND page = pageWith(sheet, IDC_HIDE_LOCAL_USERS);
        setChecked(page, IDC_HIDE_LOCAL_USERS, true);
        setChecked(page, IDC_LAUNCH_ON_STARTUP, true);
        click(sheet, IDOK);
    });
    SendMessageW(w.hwnd(), WM_COMMAND, IDM_OPTIONS, 0);
    EXPECT_TRUE(ModalAnswer::answered);
    EXPECT_EQ(monitor().settings.hideLocalUsers, 1);
    EXPECT_EQ(autostart.calls, (Strings{"enable C:\\Vantor\\vantor.exe"}));
}

TEST_F(WindowsTest, ListPageAddsRemovesClearsAndSavesInTableOrder)
{
    dir.write("blist.dat", "a PC1\nb PC2\n");
    net.setUsers({"Administrator", "Guest"});
    OptionsSheet sheet(optionsOf(monitor()), boxes, deps.options);
    ASSERT_NE(sheet.create(nullptr), nullptr);
    AccessListPage& page = sheet.listPage(OptionsSheet::BlackList);
    HWND view = page.listView();
    EXPECT_EQ(column(view, 0), (Strings{"b", "a"}));

    ModalAnswer::arm("Add user", [](HWND add) {
        HWND users = GetDlgItem(add, IDC_USER_COMBO);
        EXPECT_EQ(SendMessageW(users, CB_GETCOUNT, 0, 0), 3);  // "<Any>" and the two accounts
        EXPECT_EQ(SendMessageW(GetDlgItem(add, IDC_COMPUTER_COMBO), CB_GETCOUNT, 0, 0), 1);
        EXPECT_EQ(windowText(users), "");
        setWindowText(users, "Guest");
        click(add, IDOK);
    });
    click(page.hwnd(), IDC_ADD_USER);
    EXPECT_TRUE(ModalAnswer::answered);
    EXPECT_EQ(column(view, 0), (Strings{"Guest", "b", "a"}));
    EXPECT_EQ(column(view, 1), (Strings{"", "PC2", "PC1"}));

    // Remove needs a selection.
    click(page.hwnd(), IDC_REMOVE_USER);
    EXPECT_EQ(list::rowCount(view), 3);
    list::select(view, 1);
    click(page.hwnd(), IDC_REMOVE_USER);
    EXPECT_EQ(column(view, 0), (Strings{"Guest", "a"}));

    click(sheet.hwnd(), IDOK);
    storeOptions(monitor(), sheet.outcome(), {});
    EXPECT_EQ(readFile("blist.dat"), "Guest \na PC1\n");

    click(page.hwnd(), IDC_CLEAR);
    EXPECT_EQ(list::rowCount(view), 0);
}

// --- the history window -------------------------------------------------------------------------

TEST_F(WindowsTest, HistoryWindowListsSessionsNewestFirstAndTheSelectedOnesFiles)
{
    std::ostringstream users, files;
    writeSessionLine(users, 1110200000, "ann", "PC1", 9);
    writeSessionLine(users, 1110204309, "BUILD ADMIN", "PC 7", 3725);
    writeSessionLine(users, 1110300000, "cid", "PC3", 60);
    writeFileLine(files, 1110204308, "BUILD ADMIN", "PC 7", "C:\\before.txt");
    writeFileLine(files, 1110204309, "BUILD ADMIN", "PC 7", "C:\\first.txt");
    writeFileLine(files, 1110208034, "BUILD ADMIN", "PC 7", "C:\\last.txt");
    writeFileLine(files, 1110205000, "BUILD ADMIN", "PC 8", "C:\\other.txt");
    ASSERT_TRUE(appendToLog(dir.path(), "users.log", users.str()));
    ASSERT_TRUE(appendToLog(dir.path(), "files.log", files.str()));

    HistoryDialog history(face.historySource(), boxes, "");
    ASSERT_NE(history.create(nullptr), nullptr);
    ASSERT_TRUE(waitFor([&] { return history.loaded(); }));
    EXPECT_EQ(windowText(history.hwnd()), "Sessions History");
    HWND sessions = history.sessionsList();
    EXPECT_EQ(column(sessions, 0), (Strings{"cid", "BUILD ADMIN", "ann"}));
    EXPECT_EQ(list::cell(sessions, 1, 4), formatDuration(3725));

    clickRow(sessions, 1);
    EXPECT_EQ(column(history.filesList(), 1), (Strings{"C:\\first.txt", "C:\\last.txt"}));

    // Sorting keeps the selected session and its files; counts sort as text, descending.
    NMLISTVIEW sort{};
    sort.hdr = {sessions, IDC_HISTORY_SESSIONS, static_cast<UINT>(LVN_COLUMNCLICK)};
    sort.iSubItem = HistorySessionRows::User;
    SendMessageW(history.hwnd(), WM_NOTIFY, IDC_HISTORY_SESSIONS, reinterpret_cast<LPARAM>(&sort));
    EXPECT_EQ(column(sessions, 0), (Strings{"cid", "ann", "BUILD ADMIN"}));
    EXPECT_EQ(list::selected(sessions), 2);
    EXPECT_EQ(list::rowCount(history.filesList()), 2);

    // Empty space clicked: no session, no files.
    clickRow(sessions, std::nullopt);
    EXPECT_EQ(list::rowCount(history.filesList()), 0);

    // The report button writes the report where the settings say.
    bool written = false;
    history.onReport = [&](bool ok) { written = ok; };
    click(history.hwnd(), IDC_REPORT_BUTTON);
    ASSERT_TRUE(waitFor([&] { return written; }));
    EXPECT_TRUE(std::filesystem::exists(dir / "report.html"));
}

}  // namespace
}  // namespace vantor::win
