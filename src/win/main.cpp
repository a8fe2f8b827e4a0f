// vantor.exe: the monitor as a Windows program. The same engine as on Linux runs in this process
// on the NetApi32 service; the main window shows it and the tray icon keeps it reachable.

#include "app/CommandLine.h"
#include "demo/DemoService.h"
#include "engine/Engine.h"
#include "sockets/NetSocket.h"
#include "mail/SendMail.h"
#include "mail/TestMail.h"
#include "options/SettingsFile.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/PlatformNetManagement.h"
#include "win/MonitorDialog.h"
#include "win/SmallDialogs.h"
#include "win/WinMessageBoxes.h"
#include "win/WinMonitorFace.h"

#include <windows.h>
#include <shellapi.h>

#include <mutex>

namespace {

using namespace vantor;

// Text for whoever started the program from a console; a program started from the desktop has
// none, and gets a box instead.
void tell(const std::string& text, bool error)
{
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) {
        if (AttachConsole(ATTACH_PARENT_PROCESS))
            out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE
        && WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    MessageBoxW(nullptr, win::wide(text).c_str(), L"Vantor", error ? MB_ICONERROR : MB_ICONINFORMATION);
}

std::vector<std::string> arguments()
{
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(win::utf8(argv[i]));
    LocalFree(argv);
    return args;
}

int run()
{
    const CommandLineResult cmd = parseCommandLine(arguments());
    if (!cmd.error.empty()) {
        tell(cmd.error + "\n" + commandLineUsage("vantor"), true);
        return 2;
    }
    if (cmd.options.help) {
        tell(commandLineUsage("vantor"), false);
        return 0;
    }
    if (cmd.options.version) {
        tell(std::string("vantor ") + win::programVersion() + "\n", false);
        return 0;
    }

    const std::filesystem::path dataDir =
        cmd.options.dataDir ? pathFromText(*cmd.options.dataDir) : defaultDataDirectory();
    ensureDirectory(dataDir);
    const InstanceLock::Attempt lock = InstanceLock::acquire(dataDir);
    if (lock.holder) {
        // The running one's window comes up instead of a second monitor.
        if (HWND running = FindWindowW(L"#32770", cmd.options.demo ? L"Vantor (demo)" : L"Vantor")) {
            PostMessageW(running, WM_COMMAND, IDM_MAIN_DIALOG, 0);
            return 0;
        }
        tell(alreadyRunningText(*lock.holder) + "\n", true);
        return 1;
    }

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_ANIMATE_CLASS
                                                        | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    win::WinMessageBoxes boxes;
    if (!initializeSockets()) {
        wchar_t text[128] = L"Windows sockets initialization failed.";
        LoadStringW(GetModuleHandleW(nullptr), IDS_SOCKETS_FAILED, text, 128);
        MessageBoxW(nullptr, text, L"Vantor", MB_OK);
        return 1;
    }

    std::unique_ptr<FakeDemo> demo;
    std::unique_ptr<NetManagement> platformNet;
    NetManagement* net = nullptr;
    const FileInspector* inspector = nullptr;
    if (cmd.options.demo) {
        demo = startFakeDemo();
        net = &demo->net;
        inspector = &demo->files;
    } else {
        platformNet = createPlatformNetManagement({cmd.options.sambaConfig, dataDir});
        net = platformNet.get();
    }

    EngineOptions engineOptions;
    // The demo's made-up clients must not change the user's settings.
    if (!cmd.options.demo)
        engineOptions.settingsFile = dataDir / "vantor.conf";
    engineOptions.consoleAgent = true;
    // Mail waits on a mail server: on a worker of its own; its outcomes come back in order.
    // The mail's worker hands its outcomes to the window thread while the window is there.
    struct ToWindow {
        std::mutex mutex;
        std::function<void(std::function<void()>)> post;
    } toWindow;
    AsyncMailSender mail({}, [&toWindow](std::function<void()> fn) {
        std::lock_guard guard(toWindow.mutex);
        if (toWindow.post)
            toWindow.post(std::move(fn));
    });
    engineOptions.mail = &mail;
    Engine engine({*net, boxes, SystemClock::instance(), dataDir, inspector}, engineOptions);
    win::WinMonitorFace face(engine);
    {
        std::lock_guard guard(toWindow.mutex);
        toWindow.post = [&face](std::function<void()> fn) { face.driver().toWindowThread(std::move(fn)); };
    }

    win::MonitorDialogDeps deps;
    deps.layoutFile = dataDir / "layout.ini";
    if (cmd.options.demo)
        deps.titleSuffix = " (demo)";
    deps.options.accounts = &engine.monitor().net();
    deps.options.sendTestMail = [&mail, &boxes](const MailRelay& relay, const std::string& address, MessageBoxes&,
                                                void*) {
        // The box comes when the mail server has answered; the Options window may be gone by then.
        auto told = std::make_shared<RecordingMessageBoxes>();
        mail.post([told, relay, address] { SendTestMail(relay, address, *told); },
                  [told, &boxes] {
                      for (BoxRequest box : told->shown) {
                          box.owner = nullptr;
                          boxes.show(box);
                      }
                  });
    };

    win::MonitorDialog dialog(face, deps);
    // The agent's threads stop and the sessions still open are written to the history.
    dialog.addExitStep([&engine] { engine.stop(); });
    // Once the window is up (the engine has read its settings then): the boxes' owner, and what
    // the settings file had wrong.
    engine.loop().post([&engine, &boxes, &dialog] {
        boxes.setMainWindow(dialog.hwnd());
        if (engine.settingsProblems().empty())
            return;
        const std::string text = settingsProblemsText(engine.settingsProblems());
        boxes.show({"Warning", text, BoxIcon::Warning, BoxButtons::Ok, nullptr});
    });
    dialog.run();
    std::lock_guard guard(toWindow.mutex);
    toWindow.post = {};
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return run();
}
