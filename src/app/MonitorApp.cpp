#include "app/MonitorApp.h"

#include "demo/DemoService.h"
#include "app/Desktop.h"
#include "app/LocalMonitorFace.h"
#include "app/MonitorDialog.h"
#include "app/QtMessageBoxes.h"
#include "app/RunningInstance.h"
#include "app/ServiceFace.h"
#include "demo/SambaDemo.h"
#include "engine/Engine.h"
#include "sockets/NetSocket.h"
#include "mail/SendMail.h"
#include "mail/TestMail.h"
#include "options/SettingsFile.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/PlatformNetManagement.h"
#include "ui/IconTheme.h"

#include <QApplication>
#include <QSocketNotifier>

#include <iostream>

#ifndef _WIN32
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vantor {

namespace {

constexpr const char* demoDataPrefix = "vantor-demo-data";

#ifndef _WIN32
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the program as "Exit" does, so that what it started (the demo's server,
// the agent's threads) is stopped rather than left behind. They are caught from the start: one
// that comes while the demo's server starts waits in the pipe until the window can act on it.
void catchTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    struct sigaction sa { };
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void quitOnTerminationSignals(QObject* parent, std::function<void()> quit)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [notifier, quit] {
        char byte;
        [[maybe_unused]] auto got = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        quit();
    });
}
#else
void catchTerminationSignals()
{
}
void quitOnTerminationSignals(QObject*, std::function<void()>)
{
}
#endif

}  // namespace

struct MonitorApp::Impl {
    Impl(int& argcRef, char** argvRef)
        : argc(argcRef)
        , argv(argvRef)
    {
        for (int i = 1; i < argc; ++i)
            args.emplace_back(argv[i]);
    }
    int& argc;
    char** argv;
    std::vector<std::string> args;
    // Made only once the command line is read and the data folder is ours: --help, --version and
    // a second start need no display.
    std::unique_ptr<QApplication> app;
};

MonitorApp::MonitorApp(int& argc, char** argv)
    : m_impl(std::make_unique<Impl>(argc, argv))
{
}

MonitorApp::~MonitorApp() = default;

int MonitorApp::run()
{
    const CommandLineResult cmd = parseCommandLine(m_impl->args);
    if (!cmd.error.empty()) {
        std::cerr << cmd.error << "\n" << commandLineUsage("vantor");
        return 2;
    }
    if (cmd.options.help) {
        std::cout << commandLineUsage("vantor");
        return 0;
    }
    if (cmd.options.version) {
        std::cout << "vantor " << VANTOR_VERSION << "\n";
        return 0;
    }

    // The demo keeps its history and lists in a throw-away folder, never in the real one: its
    // clients are made up. A demo that was killed left its folder; the next one removes it.
    LockedTempFolder demoData;
    struct RemoveFolder {
        std::filesystem::path path;
        ~RemoveFolder()
        {
            std::error_code ec;
            if (!path.empty())
                std::filesystem::remove_all(path, ec);
        }
    } removeDemoData;
    if (cmd.options.demo && !cmd.options.dataDir) {
        removeAbandonedTempFolders(demoDataPrefix);
        std::string why;
        demoData = makeLockedTempFolder(demoDataPrefix, why);
        if (demoData.path.empty()) {
            std::cerr << "vantor: the demo cannot make its data folder: " << why << "\n";
            return 1;
        }
        removeDemoData.path = demoData.path;
    }
    const std::filesystem::path dataDir = !demoData.path.empty() ? demoData.path
                                          : cmd.options.dataDir  ? std::filesystem::path(*cmd.options.dataDir)
                                                                 : defaultDataDirectory();
    ensureDirectory(dataDir);
    const InstanceLock::Attempt lock =
        demoData.lock ? InstanceLock::Attempt{std::move(demoData.lock), {}, {}} : InstanceLock::acquire(dataDir);
    if (lock.holder) {
        {
            QCoreApplication probe(m_impl->argc, m_impl->argv);
            if (askRunningInstanceToShow(dataDir)) {
                std::cerr << alreadyRunningText(*lock.holder) << "; its window is brought up\n";
                return 0;
            }
        }
        std::cerr << alreadyRunningText(*lock.holder) << "\n";
        return 1;
    }
    if (!lock.lock)
        std::cerr << "vantor: " << lock.error << "; nothing keeps a second Vantor from using this folder\n";

    catchTerminationSignals();
    m_impl->app = std::make_unique<QApplication>(m_impl->argc, m_impl->argv);
    QApplication& app = *m_impl->app;
    QApplication::setApplicationName(QStringLiteral("Vantor"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    initResources();
    QApplication::setWindowIcon(programIcon(QStringLiteral("vantor")));
    ensureIconTheme();

    QtMessageBoxes boxes;
    // The socket layer comes first: without it there is no console agent and no mail.
    if (!initializeSockets()) {
        boxes.show({"Vantor", socketsInitializationFailedText, BoxIcon::None, BoxButtons::Ok, nullptr});
        return 1;
    }
    // The service's face, when there is a service to show (and no --demo or Samba of the user's
    // choosing asks for an engine here): the window runs as the user, as a desktop program should.
    if (!cmd.options.demo && !cmd.options.sambaConfig && !cmd.options.dataDir) {
        if (std::unique_ptr<MonitorFace> face = serviceFace(boxes)) {
            MonitorDialog dialog(*face, {});
            boxes.setParentWindow(&dialog);
            // "Add user" offers the accounts of this computer, as far as the user may list them.
            auto accounts = createPlatformNetManagement({std::nullopt, dataDir});
            OptionsDeps optionsDeps;
            optionsDeps.accounts = accounts.get();
            optionsDeps.browseDirectory = dataDir;
            dialog.setOptionsDeps(optionsDeps);
            QObject::connect(&dialog, &MonitorDialog::exitRequested, &app, &QCoreApplication::quit);
            RunningInstanceListener secondStarts;
            QObject::connect(&secondStarts, &RunningInstanceListener::showRequested, &dialog,
                             [&dialog] { dialog.runCommand(MonitorDialog::MainDialogCommand); });
            secondStarts.listen(dataDir);
            quitOnTerminationSignals(&dialog, [&dialog] { dialog.runCommand(MonitorDialog::ExitCommand); });
            dialog.show();
            dialog.start();
            return app.exec();
        }
    }

    // Declared before the window: they outlive it, and the demo's server stops after it.
    std::unique_ptr<SambaDemo> sambaDemo;
    std::unique_ptr<FakeDemo> fakeDemo;
    std::unique_ptr<NetManagement> platformNet;
    NetManagement* net = nullptr;
    const FileInspector* inspector = nullptr;
    QString titleSuffix;

    if (cmd.options.demo) {
        titleSuffix = QStringLiteral(" (demo)");
        std::string why;
        sambaDemo = startSambaDemo(why);
        if (sambaDemo) {
            platformNet = createPlatformNetManagement({sambaDemo->configFile(), dataDir});
            net = platformNet.get();
        } else {
            std::cerr << "vantor: the demo's Samba server cannot run here (" << why
                      << "); the demo plays on an in-memory service instead\n";
            fakeDemo = startFakeDemo();
            net = &fakeDemo->net;
            inspector = &fakeDemo->files;
        }
    } else {
        platformNet = createPlatformNetManagement({cmd.options.sambaConfig, dataDir});
        net = platformNet.get();
    }

    // Mail waits on a mail server for up to half a minute: it goes to a worker of its own, and its
    // outcomes come back to the GUI thread in order. Declared before the engine, whose worker hands
    // it the new-user mails; at "Exit" a mail under way is left to end by itself.
    AsyncMailSender mail({}, [](std::function<void()> fn) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
    });
    EngineOptions engineOptions;
    // The demo shows the program at work on its own scripted server: the user's own settings (a
    // white list, say) would only get in its way, and it must not change them.
    if (!cmd.options.demo)
        engineOptions.settingsFile = defaultSettingsFile();
    engineOptions.consoleAgent = true;
    engineOptions.mail = &mail;
    engineOptions.log = [](LogLevel level, const std::string& text) {
        // The window shows what the user must act on; the rest is for a terminal, if there is one.
        if (level == LogLevel::Error || level == LogLevel::Warning)
            std::cerr << "vantor: " << text << "\n";
    };
    Engine engine({*net, boxes, SystemClock::instance(), dataDir, inspector}, engineOptions);

    MonitorDialog::Options options;
    options.titleSuffix = titleSuffix;
    options.rememberLayout = true;
    LocalMonitorFace face(engine);
    MonitorDialog dialog(face, options);
    boxes.setParentWindow(&dialog);

    OptionsDeps optionsDeps;
    optionsDeps.accounts = net;
    optionsDeps.browseDirectory = dataDir;
    optionsDeps.sendTestMail = [&mail, &boxes](const MailRelay& relay, const std::string& address, MessageBoxes&,
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
    dialog.setOptionsDeps(optionsDeps);
    // The agent's threads stop and the sessions still open are written to the history.
    dialog.addExitStep([&engine] { engine.stop(); });

    QObject::connect(&dialog, &MonitorDialog::exitRequested, &app, &QCoreApplication::quit);

    RunningInstanceListener secondStarts;
    QObject::connect(&secondStarts, &RunningInstanceListener::showRequested, &dialog,
                     [&dialog] { dialog.runCommand(MonitorDialog::MainDialogCommand); });
    if (!secondStarts.listen(dataDir))
        std::cerr << "vantor: a second start cannot bring this window up: the local socket "
                  << runningInstanceSocket(dataDir).toStdString() << " cannot be made\n";
    quitOnTerminationSignals(&dialog, [&dialog] { dialog.runCommand(MonitorDialog::ExitCommand); });
    dialog.show();
    dialog.start();
    if (!engine.settingsProblems().empty()) {
        const std::string text = settingsProblemsText(engine.settingsProblems());
        // From inside the event loop: a box opened before it runs would keep "Exit" (or SIGTERM)
        // from ending the program, its quit coming before the loop it should end.
        QMetaObject::invokeMethod(
            &dialog,
            [&boxes, text] {
                boxes.show({"Warning", text, BoxIcon::Warning, BoxButtons::Ok, nullptr});
            },
            Qt::QueuedConnection);
    }
    return app.exec();
}

}  // namespace vantor
