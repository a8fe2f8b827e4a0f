// vantor-bench-scenario: the window program's own pieces (main window, poll, recorder, mail, console
// agent) against a private smbd reached as a remote server through srvsvc, for a minute of a busy
// day: users holding files open, clients that a white list throws out at every poll and that come
// straight back, history and file logging on, and new-user mail to a mail server that accepts the
// connection and never answers. Prints each figure with its goal and "met" or "not met".
//
// Needs root (the private server's accounts are Linux accounts) and Samba's Python bindings.
// Everything it starts (smbd, clients, accounts, folders) is removed again at its end.

#include "app/LocalMonitorFace.h"
#include "app/MonitorDialog.h"
#include "engine/Engine.h"
#include "app/TableModels.h"
#include "history/HistoryRecorder.h"
#include "console/ConsoleAgent.h"
#include "sockets/NetSocket.h"
#include "mail/SendMail.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "demo/SmbClientHolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <ctime>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;
using Steady = std::chrono::steady_clock;

namespace {

double msSince(Steady::time_point start)
{
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

void figure(const char* what, double value, const char* unit, double goal)
{
    std::printf("%-52s %9.1f %s  (goal %g %s)  %s\n", what, value, unit, goal, unit, value <= goal ? "met" : "not met");
}

double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Times every event the GUI thread handles: the longest one is the longest the window could not
// answer because of the program's own work. Its CPU time tells that work from a machine too busy
// to run the thread at all.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --m_depth;
            return r;
        }
        const auto start = Steady::now();
        const double cpu = threadCpuMs();
        const bool r = QApplication::notify(receiver, event);
        --m_depth;
        const double ms = msSince(start);
        if (measuring && ms > worstMs) {
            worstMs = ms;
            worstCpuMs = threadCpuMs() - cpu;
            worstWhat = std::string(receiver->metaObject()->className()) + " event " + std::to_string(event->type());
        }
        return r;
    }
    bool measuring = false;
    double worstMs = 0;
    double worstCpuMs = 0;
    std::string worstWhat;

private:
    int m_depth = 0;
};

// The service as the monitor sees it, timing the calls that make up a poll's work.
class TimedNet final : public NetManagement {
public:
    explicit TimedNet(NetManagement& inner)
        : m_inner(inner)
    {
    }
    NetStatus enumSessions(const ServerName& s, std::vector<NetSessionInfo>& out) override
    {
        const auto start = Steady::now();
        NetStatus st = m_inner.enumSessions(s, out);
        note(worstEnum, start);
        return st;
    }
    NetStatus enumFiles(const ServerName& s, const std::string& u, std::vector<NetFileInfo>& out) override
    {
        return m_inner.enumFiles(s, u, out);
    }
    NetStatus enumAllFiles(const ServerName& s, std::vector<NetFileInfo>& out) override
    {
        const auto start = Steady::now();
        NetStatus st = m_inner.enumAllFiles(s, out);
        note(worstAllFiles, start);
        return st;
    }
    NetStatus deleteSession(const ServerName& s, const std::string& c, const std::string& u) override
    {
        return m_inner.deleteSession(s, c, u);
    }
    std::vector<NetStatus> deleteSessions(const ServerName& s, const std::vector<SessionKey>& keys) override
    {
        const auto start = Steady::now();
        auto st = m_inner.deleteSessions(s, keys);
        note(worstCloses, start);
        std::lock_guard lock(m_mutex);
        closes += keys.size();
        return st;
    }
    NetStatus enumUsers(std::vector<std::string>& out) override { return m_inner.enumUsers(out); }
    NetStatus closeFile(const ServerName& s, uint32_t id) override { return m_inner.closeFile(s, id); }

    double get(double TimedNet::*what)
    {
        std::lock_guard lock(m_mutex);
        return this->*what;
    }
    std::size_t closeCount()
    {
        std::lock_guard lock(m_mutex);
        return closes;
    }
    double worstEnum = 0, worstAllFiles = 0, worstCloses = 0;

private:
    void note(double& worst, Steady::time_point start)
    {
        const double ms = msSince(start);
        std::lock_guard lock(m_mutex);
        worst = std::max(worst, ms);
    }
    NetManagement& m_inner;
    std::mutex m_mutex;
    std::size_t closes = 0;
};

struct NoFolders final : FileInspector {
    bool isDirectoryOrUnreadable(const std::string&) const override { return true; }
};

// A mail server that takes every connection and never says a word.
class SilentSmtpServer {
public:
    SilentSmtpServer()
    {
        m_listener.Listen(0, "127.0.0.1");
        m_thread = std::thread([this] {
            while (m_running) {
                const SocketHandle h = m_listener.Accept(WaitLimit{std::chrono::milliseconds(200), &m_running});
                if (h != invalidSocket) {
                    std::lock_guard lock(m_mutex);
                    m_held.emplace_back(std::make_unique<NetSocket>(h));
                }
            }
        });
    }
    ~SilentSmtpServer()
    {
        m_running = false;
        m_thread.join();
    }
    uint16_t port() const { return m_listener.LocalPort(); }
    std::size_t connections()
    {
        std::lock_guard lock(m_mutex);
        return m_held.size();
    }

private:
    NetSocket m_listener;
    std::atomic<bool> m_running{true};
    std::mutex m_mutex;
    std::vector<std::unique_ptr<NetSocket>> m_held;
    std::thread m_thread;
};

// Connects many clients at once (each smbclient takes a moment to log on).
bool connectAll(std::vector<SmbClientHolder*> holders, std::string& error)
{
    std::mutex mutex;
    std::vector<std::thread> threads;
    std::atomic<std::size_t> next{0};
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            for (std::size_t i = next++; i < holders.size(); i = next++) {
                std::string why;
                if (!holders[i]->connect(why, std::chrono::seconds(30))) {
                    std::lock_guard lock(mutex);
                    error = why;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    return error.empty();
}

struct Account {
    std::string name;
    std::string password;
};

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 60;
    std::size_t keptCount = 50, returningCount = 50, bigCount = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        else if (a == "--users")
            keptCount = returningCount = static_cast<std::size_t>(std::atoi(argv[i + 1]));
    }
    if (::geteuid() != 0) {
        std::cerr << "vantor-bench-scenario needs root: its private Samba server makes Linux accounts\n";
        return 2;
    }
    if (!runProcess({"/usr/bin/python3", "-c", "import samba.dcerpc.srvsvc"}).succeeded()) {
        std::cerr << "vantor-bench-scenario needs Samba's Python bindings (apt install python3-samba)\n";
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);

    char tmpl[] = "/tmp/vantor-bench-scenario-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path work = tmpl;
    const std::filesystem::path dataDir = work / "data";
    std::filesystem::create_directories(dataDir);

    PrivateSambaServer::Options serverOptions;
    serverOptions.shares = {"docs"};
    serverOptions.accountPrefix = "vb";
    PrivateSambaServer server(serverOptions);
    std::string error;
    int status = 0;
    {
        std::vector<std::unique_ptr<SmbClientHolder>> kept, returning, extra;
        std::atomic<bool> returnersRun{true};
        std::thread returner;
        auto cleanUp = [&] {
            returnersRun = false;
            if (returner.joinable())
                returner.join();
            kept.clear();
            returning.clear();
            extra.clear();
            server.stop();
        };
        auto fail = [&](const std::string& what) {
            std::cerr << "vantor-bench-scenario: " << what << "\n";
            cleanUp();
            std::filesystem::remove_all(work);
            return 1;
        };

        std::cerr << "starting a private Samba server and " << keptCount + returningCount + 1 << " accounts...\n";
        if (!server.start(error))
            return fail(error);
        const std::string admin = server.addUser("admin", "pw-admin", error);
        if (admin.empty() || !server.makeAdministrator(admin, true, error))
            return fail(error);
        std::vector<Account> keptUsers, returningUsers;
        for (std::size_t i = 0; i < keptCount; ++i) {
            const std::string name = server.addUser("keep" + std::to_string(i), "pw-k", error);
            if (name.empty())
                return fail(error);
            keptUsers.push_back({name, "pw-k"});
            std::ofstream(server.sharePath("docs") / ("f" + std::to_string(i) + ".txt")) << "bench\n";
            std::ofstream(server.sharePath("docs") / ("g" + std::to_string(i) + ".txt")) << "bench\n";
        }
        for (std::size_t i = 0; i < returningCount; ++i) {
            const std::string name = server.addUser("out" + std::to_string(i), "pw-o", error);
            if (name.empty())
                return fail(error);
            returningUsers.push_back({name, "pw-o"});
        }
        auto holder = [&](const Account& a) {
            SmbClientHolder::Options o;
            o.port = server.port();
            o.share = "docs";
            o.user = a.name;
            o.password = a.password;
            static int clientCount = 0;
            o.logFile = work / ("client-" + a.name + "-" + std::to_string(clientCount++) + ".log");
            return std::make_unique<SmbClientHolder>(o);
        };
        for (const auto& a : keptUsers)
            kept.push_back(holder(a));
        for (const auto& a : returningUsers)
            returning.push_back(holder(a));

        std::cerr << "connecting " << kept.size() + returning.size() << " clients...\n";
        std::vector<SmbClientHolder*> all;
        for (auto& h : kept)
            all.push_back(h.get());
        for (auto& h : returning)
            all.push_back(h.get());
        if (!connectAll(all, error))
            return fail("a client could not log on: " + error);
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (!kept[i]->open("f" + std::to_string(i) + ".txt") || !kept[i]->open("g" + std::to_string(i) + ".txt"))
                return fail("a client could not open its files");

        // The white list: the kept users and the account Vantor logs on with (its own session).
        {
            std::ofstream wlist(dataDir / "wlist.dat");
            wlist << admin << " 127.0.0.1\n";
            for (const auto& a : keptUsers)
                wlist << a.name << " 127.0.0.1\n";
            std::ofstream(dataDir / "credentials") << "username = " << admin << "\npassword = pw-admin\n";
            std::filesystem::permissions(dataDir / "credentials", std::filesystem::perms(0600));
        }

        // The clients the white list throws out come straight back: Samba's own view says whose
        // session is gone, and those log on again at once.
        returner = std::thread([&] {
            SambaOptions local;
            local.configFile = server.configFile().string();
            local.reuseWindow = std::chrono::milliseconds(0);
            SambaNetManagement samba(local);
            while (returnersRun) {
                std::vector<NetSessionInfo> sessions;
                if (samba.enumSessions({}, sessions).ok()) {
                    std::set<std::string> present;
                    for (const auto& s : sessions)
                        present.insert(s.user);
                    std::vector<std::thread> again;
                    for (std::size_t i = 0; i < returning.size(); ++i)
                        if (!present.count(returningUsers[i].name))
                            again.emplace_back([&, i] {
                                returning[i]->disconnect();
                                std::string why;
                                returning[i]->connect(why, std::chrono::seconds(20));
                            });
                    for (auto& t : again)
                        t.join();
                }
                for (int k = 0; k < 5 && returnersRun; ++k)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });

        SilentSmtpServer smtp;
        SambaOptions o;
        o.configFile = server.configFile().string();
        o.credentialsFile = (dataDir / "credentials").string();
        o.useKerberos = false;
        o.srvsvcHelper = VANTOR_SRVSVC_HELPER;
        SambaNetManagement samba(o);
        TimedNet net(samba);
        RecordingMessageBoxes boxes;
        NoFolders inspector;

        // As the program wires them (MonitorApp): the engine with its recorder and console agent,
        // mail on a worker of its own, the window on top.
        auto mail = std::make_unique<AsyncMailSender>(SmtpOptions{}, [](std::function<void()> fn) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
        });
        EngineOptions engineOptions;
        engineOptions.consoleAgent = true;
        engineOptions.agentConfig.bindAddress = "127.0.0.1";
        engineOptions.agentConfig.commandPort = freeLoopbackPort();
        engineOptions.agentConfig.discoveryPort = freeLoopbackPort();
        engineOptions.agentConfig.consoleReplyPort = freeLoopbackPort();
        engineOptions.mail = mail.get();
        Engine engine(SessionMonitor::Context{net, boxes, SystemClock::instance(), dataDir, &inspector}, engineOptions);
        MonitorDialog::Options options;
        options.animations = false;
        options.trayAvailable = [] { return true; };
        options.openUrl = [](const QUrl&) { return true; };
        LocalMonitorFace face(engine);
        auto dialog = std::make_unique<MonitorDialog>(face, options);
        dialog->addExitStep([&engine] { engine.stop(); });
        SessionMonitor& monitor = face.monitor();
        monitor.settings.useBlackList = 0;
        monitor.settings.mailOnNewUser = 1;
        monitor.settings.smtpServer = "127.0.0.1";
        monitor.settings.smtpPort = smtp.port();
        monitor.settings.mailAddress = "bench@vantor.invalid";
        monitor.settings.noHistory = 0;
        monitor.settings.logOpenedFiles = 1;
        monitor.setRemoteServer("127.0.0.1", false);

        // The GUI thread's heartbeat: any stretch it is held shows as a late beat.
        constexpr int beatMs = 5;
        double worstBlock = 0;
        QElapsedTimer sinceBeat;
        QTimer heartbeat;
        heartbeat.setInterval(beatMs);
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            worstBlock = std::max(worstBlock, static_cast<double>(sinceBeat.nsecsElapsed()) / 1e6 - beatMs);
            sinceBeat.start();
        });
        std::vector<Steady::time_point> pollsDone;
        QObject::connect(dialog.get(), &MonitorDialog::pollFinished, [&] { pollsDone.push_back(Steady::now()); });

        std::cerr << "running the scenario for " << seconds << " s...\n";
        dialog->show();
        dialog->start();
        sinceBeat.start();
        heartbeat.start();
        app.measuring = true;
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        heartbeat.stop();
        app.measuring = false;
        const std::size_t rowsAtEnd = dialog->sessionsModel()->rowCount();
        std::size_t keptAlive = 0;
        for (auto& h : kept)
            keptAlive += h->connected();

        double worstLate = 0;
        for (std::size_t i = 1; i < pollsDone.size(); ++i)
            worstLate = std::max(
                worstLate, std::chrono::duration<double, std::milli>(pollsDone[i] - pollsDone[i - 1]).count() - 3000);

        // A remote poll of many sessions once the helper runs: the returning clients leave, and
        // more clients of the kept users log on.
        returnersRun = false;
        returner.join();
        returning.clear();
        std::size_t wanted = bigCount > kept.size() + 1 ? bigCount - kept.size() - 1 : 0;
        std::cerr << "connecting " << wanted << " more clients...\n";
        for (std::size_t i = 0; i < wanted; ++i)
            extra.push_back(holder(keptUsers[i % keptUsers.size()]));
        std::vector<SmbClientHolder*> more;
        for (auto& h : extra)
            more.push_back(h.get());
        if (!connectAll(more, error))
            std::cerr << "a client could not log on: " << error << "\n";
        face.waitForWorker();
        std::size_t bigSessions = 0;
        double bigPoll = 0;
        for (int round = 0; round < 6; ++round) {
            const auto start = Steady::now();
            const SessionsFetch fetch = monitor.fetchSessions("127.0.0.1");
            monitor.applySessions(fetch);
            const double ms = msSince(start);
            bigSessions = fetch.sessions.size();
            if (round > 0)
                bigPoll = std::max(bigPoll, ms);
            if (!fetch.status.ok())
                std::cerr << "the poll failed: " << fetch.status.text << "\n";
        }

        // "Exit", with a console that connected and says nothing.
        NetSocket silentConsole;
        silentConsole.Create();
        silentConsole.Connect(engineOptions.agentConfig.commandPort, "127.0.0.1", 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto exitStart = Steady::now();
        dialog->runCommand(MonitorDialog::ExitCommand);
        mail.reset();
        const double exitMs = msSince(exitStart);

        const auto lines = [&](const char* log) {
            std::ifstream in(dataDir / log);
            return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
        };
        std::printf("vantor-bench-scenario: %d s against a private smbd as remote server 127.0.0.1 (srvsvc)\n",
                    seconds);
        std::printf("  %zu users holding 2 files each, %zu clients the white list closes at every poll,\n", keptCount,
                    returningCount);
        std::printf("  history and file logging on, new-user mail to a server that never answers\n");
        std::printf("  polls finished: %zu, rows at the end: %zu, kept clients still running: %zu, mail "
                    "connections held: %zu, error boxes: %zu\n",
                    pollsDone.size(), rowsAtEnd, keptAlive, smtp.connections(), boxes.shown.size());
        std::printf("  sessions closed: %zu; on the poll worker at worst: a session enumeration %.1f ms, one "
                    "poll's closes %.1f ms; the recorder's enumeration of every user's files %.1f ms\n",
                    net.closeCount(), net.get(&TimedNet::worstEnum), net.get(&TimedNet::worstCloses),
                    net.get(&TimedNet::worstAllFiles));
        std::printf("  users.log lines: %ld, files.log lines: %ld\n", static_cast<long>(lines("users.log")),
                    static_cast<long>(lines("files.log")));
        for (const auto& b : boxes.shown)
            std::printf("  box: %s\n", b.text.c_str());
        figure("worst GUI-thread block (one event, wall time)", app.worstMs, "ms", 50);
        std::printf("  that event: %s, %.1f ms of it on the CPU; the window's heartbeat was late by at most "
                    "%.1f ms (a loaded machine adds its own delays there)\n",
                    app.worstWhat.c_str(), app.worstCpuMs, worstBlock);
        figure("worst lateness of a poll against its 3 s period", worstLate, "ms", 200);
        char what[80];
        std::snprintf(what, sizeof what, "remote poll of %zu sessions after the first", bigSessions);
        figure(what, bigPoll, "ms", 30);
        figure("Exit (a silent console connected, a mail under way)", exitMs, "ms", 500);
        if (bigSessions < bigCount)
            std::printf("  (only %zu of the %zu sessions wanted were made)\n", bigSessions, bigCount);

        dialog.reset();
        cleanUp();
    }
    std::filesystem::remove_all(work);
    return status;
}
