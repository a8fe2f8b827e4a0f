// vantord's face on a system bus of the test's own, with Debian's polkitd on it and a rule that lets
// one account in and keeps another out, against a private smbd. The callers are real accounts (the
// probe takes their ids before it connects), so what polkit judges is what the bus says about them.

#include "FreePort.h"
#include "HistoryWords.h"
#include "PrivateSystemBus.h"
#include "SambaFixture.h"
#include "bus/BusNames.h"
#include "bus/MonitorBusClient.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using test::waitUntil;

// The members of org.vantor.Monitor1 in introspection data, one text each ("method Name(in s user, out
// u id)"), sorted: what a caller relies on, without the comments, the layout or the members' order.
std::vector<std::string> contractOf(std::string xml)
{
    for (auto at = xml.find("<!--"); at != std::string::npos; at = xml.find("<!--", at))
        xml.erase(at, xml.find("-->", at) == std::string::npos ? std::string::npos : xml.find("-->", at) + 3 - at);
    const auto from = xml.find("<interface name=\"org.vantor.Monitor1\"");
    const auto to = xml.find("</interface>", from);
    if (from == std::string::npos || to == std::string::npos)
        return {};
    const std::string body = xml.substr(from, to - from);
    auto attribute = [](const std::string& attrs, const char* name) {
        std::smatch m;
        return std::regex_search(attrs, m, std::regex(std::string("\\b") + name + "=\"([^\"]*)\"")) ? m[1].str()
                                                                                                    : std::string();
    };
    std::vector<std::string> members;
    std::string kind;
    const std::regex tag("<(/?)(method|signal|property|arg)\\b([^>]*?)(/?)>");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string element = (*it)[2], attrs = (*it)[3];
        if ((*it)[1] == "/") {
            members.back() += ")";
            continue;
        }
        if (element == "arg") {
            std::string direction = attribute(attrs, "direction");
            if (direction.empty())
                direction = kind == "method" ? "in" : "out";
            std::string& member = members.back();
            member += (member.back() == '(' ? "" : ", ") + direction + " " + attribute(attrs, "type") + " "
                      + attribute(attrs, "name");
            continue;
        }
        kind = element;
        members.push_back(element + " " + attribute(attrs, "name"));
        if (element == "property")
            members.back() += " " + attribute(attrs, "type") + " " + attribute(attrs, "access");
        else if ((*it)[4] == "/")
            members.back() += "()";
        else
            members.back() += "(";
    }
    std::sort(members.begin(), members.end());
    return members;
}

class VantordBusTest : public test::SambaFixture {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: accounts, the rules of polkit and smbstatus";
        if (!test::PrivateSystemBus::available())
            GTEST_SKIP() << "needs dbus-daemon and polkitd (scripts/install-deps.sh installs them)";
        if (const std::string why = test::sambaMissing({"smbd", "smbclient"}); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_NO_FATAL_FAILURE(startServer());
        std::ofstream(server->sharePath("docs") / "a.txt") << "content\n";

        data = dataDir.path() / "data";
        config = dataDir.path() / "vantor.conf";

        // The test's rule is in place before polkitd starts, so it reads it at once.
        rules = std::make_unique<test::PlacedFile>("/etc/polkit-1/rules.d/10-vantor-test-" + std::to_string(::getpid())
                                                       + "-" + alice + ".rules",
                                                   "polkit.addRule(function(action, subject) {\n"
                                                   "    if (action.id.indexOf(\"org.vantor.monitor.\") == 0)\n"
                                                   "        return subject.user == \""
                                                       + alice
                                                       + "\" ? polkit.Result.YES : polkit.Result.NO;\n"
                                                         "});\n");
        std::string error;
        bus = std::make_unique<test::PrivateSystemBus>();
        ASSERT_TRUE(bus->start(dataDir.path(), VANTOR_SOURCE_DIR, error)) << error;
        address = bus->address();
        root = MonitorBusClient::connect(address, error);
        ASSERT_TRUE(root) << error;
    }

    void TearDown() override
    {
        for (auto& p : probes)
            p->stop();
        probes.clear();
        service.stop();
        root.reset();
        bus.reset();
        rules.reset();
        SambaFixture::TearDown();
    }

    void startService()
    {
        ChildProcess::Options o;
        o.outputFile = (dataDir.path() / "vantord.log").string();
        std::string error;
        ASSERT_TRUE(
            service.start({VANTORD_PROGRAM, "--config", config.string(), "--data-dir", data.string(), "--samba-config",
                           server->configFile().string(), "--command-port", std::to_string(test::freeTcpPort()),
                           "--discovery-port", std::to_string(test::freeUdpPort()), "--listen", "127.0.0.1"},
                          o, error))
            << error;
        ASSERT_TRUE(waitUntil([&] { return root->serviceRunning() || !service.running(); })) << log();
        ASSERT_TRUE(root->serviceRunning()) << log();
    }

    // A client as `account`, spoken to in lines.
    LineHelper& probeAs(const std::string& account)
    {
        probes.push_back(std::make_unique<LineHelper>());
        int startError = 0;
        EXPECT_TRUE(probes.back()->start({VANTOR_BUS_PROBE, "--user", account, "--address", address}, startError))
            << startError;
        return *probes.back();
    }

    static std::string ask(LineHelper& probe, const std::string& request)
    {
        const auto reply = probe.exchange(request, 30s);
        return reply.outcome == LineHelper::Reply::Outcome::Line ? reply.line : "gone: " + probe.errorOutput();
    }

    // Samba's own sessions in the probe's form, sorted.
    std::vector<std::string> sambaRows()
    {
        std::vector<std::string> rows;
        for (const auto& s : sambaSessions())
            rows.push_back(s.user + "@" + s.computer);
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    static std::vector<std::string> probeRows(const std::string& reply)
    {
        std::istringstream in(reply);
        std::string word;
        std::vector<std::string> rows;
        for (int i = 0; in >> word; ++i)
            if (i >= 3)
                rows.push_back(word.substr(0, word.find('#')));
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // Whether the window probe was built: a build without the windows checks the service alone.
    static bool windows() { return !std::string_view(VANTOR_WINDOW_PROBE).empty(); }

    // The main window on the bus face as `account`: what its sessions table and its boxes showed.
    std::string windowAs(const std::string& account, const std::vector<std::string>& modes = {})
    {
        ProcessOptions o;
        o.timeLimit = 90s;
        std::vector<std::string> argv{VANTOR_WINDOW_PROBE, "--user", account, "--address", address};
        argv.insert(argv.end(), modes.begin(), modes.end());
        const ProcessResult r = runProcess(argv, o);
        EXPECT_TRUE(r.succeeded()) << r.err;
        return r.out;
    }

    std::string log() const { return test::readWholeFile(dataDir.path() / "vantord.log"); }

    std::string address;
    fs::path data, config;
    std::unique_ptr<test::PlacedFile> rules;
    std::unique_ptr<test::PrivateSystemBus> bus;
    ChildProcess service;
    std::unique_ptr<MonitorBusClient> root;
    std::vector<std::unique_ptr<LineHelper>> probes;
};

const std::string refused = std::string("error ") + bus::notAuthorizedError;

TEST_F(VantordBusTest, TheAllowedAccountSeesWhatSambaSeesHearsChangesClosesAndSetsOptions)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("a.txt"));
    startService();
    LineHelper& probe = probeAs(alice);

    std::string sessions;
    ASSERT_TRUE(waitUntil([&] {
        sessions = ask(probe, "sessions");
        return probeRows(sessions) == sambaRows() && !probeRows(sessions).empty();
    })) << sessions
        << "\n"
        << log();
    // The file comes with its details: the share it was opened through.
    const std::string files = ask(probe, "files " + alice);
    EXPECT_NE(files.find("a.txt"), std::string::npos) << files;
    EXPECT_NE(files.find(":docs"), std::string::npos) << files;
    // The polls work, on the usual listing.
    EXPECT_EQ(ask(probe, "status"), "ok route= error=");
    // The window, run as the account, shows the same rows and no box.
    if (windows()) {
        EXPECT_EQ(windowAs(alice), "row " + alice + "@127.0.0.1\n");
    }

    // A newcomer reaches the client as a signal, with no poll of the client's, and the new-user
    // event tells the desktop its part as the options say.
    ASSERT_EQ(ask(probe, "set-option popupOnNewUser 1"), "ok");
    ask(probe, "wait-change 0");
    connect(bob, "pw-bob", true);
    EXPECT_EQ(ask(probe, "wait-change 15000"), "ok changed");
    ASSERT_TRUE(waitUntil([&] { return probeRows(sessions = ask(probe, "sessions")) == sambaRows(); })) << sessions;
    EXPECT_NE(sessions.find(bob + "@127.0.0.2"), std::string::npos) << sessions;
    const std::string newUsers = ask(probe, "new-users");
    EXPECT_TRUE(newUsers != "ok 0" && newUsers.ends_with(" popup") && newUsers.find("beep") == std::string::npos)
        << newUsers;

    EXPECT_EQ(ask(probe, "close " + bob + " 127.0.0.2"), "ok") << log();
    EXPECT_TRUE(waitUntil([&] { return !sambaHasSessionOf(bob); }));
    EXPECT_TRUE(sambaHasSessionOf(alice));

    // An option as the Options window's OK takes it: saved in the service's settings file ...
    EXPECT_EQ(ask(probe, "set-option beepOnNewUser 1"), "ok");
    EXPECT_NE(test::readWholeFile(config).find("beepOnNewUser = 1"), std::string::npos) << test::readWholeFile(config);
    // ... and a value it would refuse changes nothing.
    EXPECT_EQ(ask(probe, "set-option dailyReportTime 0830").rfind(std::string("error ") + bus::refusedError, 0), 0u);
    EXPECT_EQ(ask(probe, "set-option serverName elsewhere").rfind(std::string("error ") + bus::refusedError, 0), 0u);
    EXPECT_EQ(test::readWholeFile(config).find("0830"), std::string::npos);
    // Nor does the bus let a caller name files that the service, as root, would write or read.
    for (const char* option : {"reportPath /etc/vantor-test.html", "smtpPasswordFile /etc/shadow"}) {
        EXPECT_EQ(ask(probe, std::string("set-option ") + option).rfind(std::string("error ") + bus::refusedError, 0),
                  0u);
        EXPECT_EQ(test::readWholeFile(config).find(std::string(option).substr(std::string(option).find(' ') + 1)),
                  std::string::npos);
    }
    EXPECT_EQ(ask(probe, "set-option reportPath weekly.html"), "ok");
    // Nor which consoles act without polkit, nor which servers get root's credentials.
    for (const char* option : {"consoleListen 127.0.0.1", "consoleAllow 127.0.0.1", "remoteServers elsewhere"})
        EXPECT_EQ(ask(probe, std::string("set-option ") + option).rfind(std::string("error ") + bus::refusedError, 0),
                  0u)
            << option;
    EXPECT_EQ(ask(probe, "set-server elsewhere").rfind(std::string("error ") + bus::refusedError, 0), 0u);

    // A list name with a line break would be two entries of the file: refused whole.
    EXPECT_EQ(ask(probe, "set-list black " + bob + " evil%0Aother").rfind(std::string("error ") + bus::refusedError, 0),
              0u);
    EXPECT_EQ(ask(probe, "set-list black " + bob + " 127.0.0.2"), "ok");
    EXPECT_EQ(test::readWholeFile(data / "blist.dat"), bob + " 127.0.0.2\n");

    // The window's Options command edits a copy of the service's options and lists; what its OK
    // accepted is the service's then.
    ASSERT_EQ(ask(probe, "set-option beepOnNewUser 0"), "ok");
    ASSERT_NE(test::readWholeFile(config).find("beepOnNewUser = 0"), std::string::npos);
    if (windows()) {
        EXPECT_EQ(windowAs(alice, {"--options"}).find("box "), std::string::npos);
        EXPECT_NE(test::readWholeFile(config).find("beepOnNewUser = 1"), std::string::npos)
            << test::readWholeFile(config);
        EXPECT_EQ(test::readWholeFile(data / "wlist.dat"), "carol <Any>\n");
    }
    EXPECT_EQ(test::readWholeFile(data / "blist.dat"), bob + " 127.0.0.2\n");

    // An entry added by the service itself: clients adding at once all land, where a read of the
    // list and a write of it back would lose some.
    EXPECT_EQ(ask(probe, "add-race 6 white"), "ok") << log();
    const std::string white = test::readWholeFile(data / "wlist.dat");
    EXPECT_TRUE(!windows() || white.starts_with("carol <Any>\n")) << white;
    for (int i = 0; i < 6; ++i)
        EXPECT_NE(white.find("racer" + std::to_string(i) + " <Any>\n"), std::string::npos) << white;
    EXPECT_EQ(std::count(white.begin(), white.end(), '\n'), windows() ? 7 : 6) << white;
    EXPECT_EQ(ask(probe, "add-list white evil%0Aother <Any>").rfind(std::string("error ") + bus::refusedError, 0), 0u);

    // The history as the service recorded it, through the bus and in the history window, whose
    // report button hands the service's report over to the user.
    ASSERT_TRUE(waitUntil([&] { return test::readWholeFile(data / "users.log").find(bob) != std::string::npos; }))
        << log();
    std::string history;
    ASSERT_TRUE(waitUntil([&] {
        history = ask(probe, "history");
        return history == "ok" + test::historyWords(HistoryData::load(data));
    })) << history;
    // bob's session, ended by the close above (the log writes the '_' of a name as a blank).
    EXPECT_NE(history.find(",127.0.0.2,"), std::string::npos) << history;
    EXPECT_NE(history.find("a.txt"), std::string::npos) << history;
    const std::string report = ask(probe, "report");
    const std::string page = test::readWholeFile(data / "weekly.html");
    EXPECT_EQ(report, "ok " + (data / "weekly.html").string() + " " + std::to_string(page.size()) + " "
                          + std::to_string(std::hash<std::string>{}(page)));
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>") && page.ends_with("</html>\n"));
    if (windows()) {
        const std::string historyWindow = windowAs(alice, {"--history"});
        EXPECT_NE(historyWindow.find(history.substr(2) + "\n"), std::string::npos) << historyWindow;
        EXPECT_NE(historyWindow.find("report " + std::to_string(page.size()) + " <!DOCTYPE html>\n"), std::string::npos)
            << historyWindow;
    }

    // The test mail goes through the service's own relay; with nobody listening there the reply
    // says why it did not go.
    const int noServer = test::freeTcpPort();
    ASSERT_EQ(ask(probe, "set-option smtpServer 127.0.0.1"), "ok");
    ASSERT_EQ(ask(probe, "set-option smtpPort " + std::to_string(noServer)), "ok");
    const std::string mail = ask(probe, "test-mail");
    EXPECT_TRUE(mail.starts_with("ok 0 ") && mail.size() > 5) << mail;
    // With a password in root's settings the relay is root's too: no caller redirects it.
    std::string edited = test::readWholeFile(config);
    const std::size_t passwordLine = edited.find("smtpPasswordFile = \n");
    ASSERT_NE(passwordLine, std::string::npos) << edited;
    edited.insert(passwordLine + 19, "/etc/vantor/smtp-password");
    std::ofstream(config) << "# the administrator's own\n" << edited;
    ASSERT_EQ(::kill(service.pid(), SIGHUP), 0);
    ASSERT_TRUE(waitUntil([&] { return log().find("settings and lists read again") != std::string::npos; })) << log();
    for (const char* option :
         {"smtpServer 192.0.2.1", "smtpPort 25", "smtpSecurity starttls", "smtpUser someone", "smtpCertFingerprint 00"})
        EXPECT_EQ(ask(probe, std::string("set-option ") + option).rfind(std::string("error ") + bus::refusedError, 0),
                  0u)
            << option;
    // Saved into the file as it stood: only the changed value changed, the comment added by hand stays.
    // (The window's Options set the beep earlier where there are windows; flip whatever it is.)
    std::string expected = "# the administrator's own\n" + edited;
    const bool beeps = expected.find("beepOnNewUser = 1\n") != std::string::npos;
    const std::size_t beepLine = expected.find(beeps ? "beepOnNewUser = 1\n" : "beepOnNewUser = 0\n");
    ASSERT_NE(beepLine, std::string::npos) << expected;
    expected.replace(beepLine, 17, beeps ? "beepOnNewUser = 0" : "beepOnNewUser = 1");
    EXPECT_EQ(ask(probe, beeps ? "set-option beepOnNewUser 0" : "set-option beepOnNewUser 1"), "ok");
    EXPECT_EQ(test::readWholeFile(config), expected);

    // Every user's open files, as the "Open files" window lists them; its "Close resource" closes
    // one through the service, which needs an administrator of the Samba server to do it.
    const std::string all = ask(probe, "all-files");
    EXPECT_TRUE(all.starts_with("ok " + alice + ":") && all.find("a.txt#") != std::string::npos) << all;
    // The Shares window's folders, as the server's configuration names them.
    EXPECT_EQ(ask(probe, "shares"), "ok docs=" + server->sharePath("docs").string());
    std::string error;
    const std::string admin = server->addUser("admin", "pw-admin", error);
    ASSERT_FALSE(admin.empty()) << error;
    ASSERT_TRUE(server->makeAdministrator(admin, true, error)) << error;
    std::ofstream(data / "credentials") << "username = " << admin << "\npassword = pw-admin\n";
    fs::permissions(data / "credentials", fs::perms(0600));
    if (!windows())
        return;
    const std::string filesWindow = windowAs(alice, {"--files"});
    EXPECT_NE(filesWindow.find("file " + alice + ":"), std::string::npos) << filesWindow;
    EXPECT_NE(filesWindow.find("closed "), std::string::npos) << filesWindow << log();
    EXPECT_EQ(filesWindow.find("box "), std::string::npos) << filesWindow;
    EXPECT_EQ(ask(probe, "all-files").find("a.txt#"), std::string::npos);
}

TEST_F(VantordBusTest, TheOtherAccountIsRefusedAndSoIsEveryoneWhenPolkitIsGone)
{
    connect(alice, "pw-alice", false);
    // A stopped service stays stopped whoever calls: the window says how an administrator starts it.
    if (windows()) {
        const std::string stopped = windowAs(bob);
        EXPECT_NE(stopped.find("box The Vantor service is not running"), std::string::npos) << stopped;
        EXPECT_NE(stopped.find("systemctl enable --now vantord"), std::string::npos) << stopped;
    }
    startService();
    LineHelper& other = probeAs(bob);
    EXPECT_EQ(ask(other, "sessions").rfind(refused, 0), 0u);
    EXPECT_EQ(ask(other, "files " + alice).rfind(refused, 0), 0u);
    EXPECT_EQ(ask(other, "close " + alice + " 127.0.0.1").rfind(refused, 0), 0u);
    EXPECT_EQ(ask(other, "set-option useBlackList 0").rfind(refused, 0), 0u);
    EXPECT_EQ(ask(other, "clear-history").rfind(refused, 0), 0u);
    for (const char* call :
         {"status", "all-files", "shares", "close-file 1", "add-list black x y", "history", "report", "test-mail"})
        EXPECT_EQ(ask(other, call).rfind(refused, 0), 0u) << call;
    EXPECT_FALSE(fs::exists(data / "blist.dat"));
    EXPECT_FALSE(fs::exists(data / "report.html"));
    EXPECT_TRUE(sambaHasSessionOf(alice));
    EXPECT_FALSE(fs::exists(config));
    // The window shows the refusal once, however often it asks again, and no rows.
    if (windows()) {
        const std::string window = windowAs(bob);
        EXPECT_EQ(window.rfind("box You are not allowed to view the sessions", 0), 0u) << window;
        EXPECT_EQ(std::count(window.begin(), window.end(), '\n'), 1) << window;
    }

    LineHelper& allowed = probeAs(alice);
    ASSERT_EQ(ask(allowed, "sessions").rfind("ok ", 0), 0u);
    // Without polkit nobody is let in, not even the account it would have let in.
    bus->stopPolkit();
    EXPECT_EQ(ask(allowed, "sessions").rfind(refused, 0), 0u);
    EXPECT_EQ(ask(allowed, "close " + alice + " 127.0.0.1").rfind(refused, 0), 0u);
    EXPECT_TRUE(sambaHasSessionOf(alice));
}

// The contract the faces are built on is the committed introspection file: the running service
// answers Introspect with exactly its members, arguments (names, types, directions) and signals.
TEST_F(VantordBusTest, TheServiceIntrospectsAsItsCommittedInterfaceFileSays)
{
    startService();
    BusError error;
    const auto introspected = root->introspect(error);
    ASSERT_TRUE(introspected) << error.text;
    const std::vector<std::string> running = contractOf(*introspected);
    const std::vector<std::string> committed =
        contractOf(test::readWholeFile(fs::path(VANTOR_SOURCE_DIR) / "packaging/dbus/org.vantor.Monitor1.xml"));
    ASSERT_GE(committed.size(), 25u);
    EXPECT_EQ(running, committed) << *introspected;
    EXPECT_NE(std::find(committed.begin(), committed.end(), "signal NewUser(out b beep, out b popup)"),
              committed.end());
}

}  // namespace
