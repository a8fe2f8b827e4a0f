#include "app/MonitorApp.h"

#include "app/DemoService.h"
#include "app/Desktop.h"
#include "app/MonitorDialog.h"
#include "app/QtMessageBoxes.h"
#include "app/SambaDemo.h"
#include "engine/Engine.h"
#include "history/HistoryLog.h"
#include "net/NetSocket.h"
#include "net/SendMail.h"
#include "net/TestMail.h"
#include "options/SettingsFile.h"
#include "platform/Clock.h"
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
    struct sigaction sa {};
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
void catchTerminationSignals() {}
void quitOnTerminationSignals(QObject*, std::function<void()>) {}
#endif

}  // namespace

struct MonitorApp::Impl {
    Impl(int& argc, char** argv) : app(argc, argv)
    {
        for (int i = 1; i < argc; ++i)
            args.emplace_back(argv[i]);
    }
    QApplication app;
    std::vector<std::string> args;
};

MonitorApp::MonitorApp(int& argc, char** argv) : m_impl(std::make_unique<Impl>(argc, argv)) {}

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

    catchTerminationSignals();
    QApplication& app = m_impl->app;
    QApplication::setApplicationName(QStringLiteral("Vantor"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    initResources();
    QApplication::setWindowIcon(programIcon(QStringLiteral("vantor")));
    ensureIconTheme();

    const std::filesystem::path dataDir =
        cmd.options.dataDir ? std::filesystem::path(*cmd.options.dataDir) : defaultDataDirectory();
    ensureDirectory(dataDir);

    QtMessageBoxes boxes;
    // The socket layer comes first: without it there is no console agent and no mail.
    if (!initializeSockets()) {
        boxes.show({"Vantor", socketsInitializationFailedText, BoxIcon::None, BoxButtons::Ok, nullptr});
        return 1;
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
    AsyncMailSender mail(smtpPort, {}, [](std::function<void()> fn) {
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
    MonitorDialog dialog(engine, options);
    boxes.setParentWindow(&dialog);

    OptionsDeps optionsDeps;
    optionsDeps.trimLogs = [dataDir](int32_t reportLimitIndex) {
        trimLogs(dataDir, reportLimitIndex, SystemClock::instance().now());
    };
    optionsDeps.sendTestMail = [&mail, &boxes](const std::string& server, const std::string& address, MessageBoxes&,
                                               void*) {
        // The box comes when the mail server has answered; the Options window may be gone by then.
        auto outcome = std::make_shared<TestMailOutcome>(TestMailOutcome::CannotConnect);
        mail.post(
            [outcome, server, address] {
                RecordingMessageBoxes quiet;
                *outcome = SendTestMail(server, address, quiet);
            },
            [outcome, &boxes] { boxes.show(testMailBox(*outcome, nullptr)); });
    };
    optionsDeps.saveSettings = [&engine] { engine.saveSettings(); };
    dialog.setOptionsDeps(optionsDeps);
    // The agent's threads stop and the sessions still open are written to the history.
    dialog.addExitStep([&engine] { engine.stop(); });

    QObject::connect(&dialog, &MonitorDialog::exitRequested, &app, &QCoreApplication::quit);
    quitOnTerminationSignals(&dialog, [&dialog] { dialog.runCommand(MonitorDialog::ExitCommand); });
    dialog.show();
    dialog.start();
    return app.exec();
}

}  // namespace vantor
