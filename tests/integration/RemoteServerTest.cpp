// The monitor watching a private smbd as a remote server by name (127.0.0.1, its port from the
// configuration), through the srvsvc helper: what it shows must be what Samba itself reports, and
// its closes must really close. Also closing one open file of this computer, which goes the same way.

#include "SambaFixture.h"
#include "monitor/SessionMonitor.h"
#include "monitor/DeskCommands.h"
#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;
using vantor::test::sorted;

namespace {

struct NoFolders final : FileInspector {
    bool isDirectoryOrUnreadable(const std::string&) const override { return false; }
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class RemoteServerTest : public test::SambaFixture {
protected:
    void SetUp() override
    {
        if (const std::string why = test::sambaMissing({"smbd", "smbclient", "net"}); !why.empty())
            GTEST_SKIP() << why;
        ProcessResult bindings = runProcess({"/usr/bin/python3", "-c", "import samba.dcerpc.srvsvc"});
        if (!bindings.succeeded())
            GTEST_SKIP() << "needs Samba's Python bindings in /usr/bin/python3 (apt install python3-samba): "
                         << bindings.err;

        ASSERT_NO_FATAL_FAILURE(startServer());
        std::string error;
        admin = server->addUser("admin", "pw-admin", error);
        ASSERT_FALSE(admin.empty()) << error;
        ASSERT_TRUE(server->makeAdministrator(admin, true, error)) << error;

        const auto docs = server->sharePath("docs");
        std::filesystem::create_directories(docs / "sub");
        std::filesystem::permissions(docs / "sub", std::filesystem::perms(0777));
        for (const char* name : {"report.txt", "b.txt"})
            std::ofstream(docs / name) << "content\n";

        SambaOptions o;
        o.configFile = server->configFile().string();
        o.credentialsFile = (dataDir / "credentials").string();
        o.useKerberos = false;
        o.srvsvcHelper = VANTOR_SRVSVC_HELPER;
        o.reuseWindow = std::chrono::milliseconds(0);
        net = std::make_unique<SambaNetManagement>(o);
        monitor =
            std::make_unique<SessionMonitor>(SessionMonitor::Context{*net, boxes, clock, dataDir.path(), &inspector});
    }

    void logOnAs(const std::string& user, const std::string& password)
    {
        std::ofstream(dataDir / "credentials") << "username = " << user << "\npassword = " << password << "\n";
        std::filesystem::permissions(dataDir / "credentials", std::filesystem::perms(0600));
    }

    std::vector<SessionEntry> localEntries(const std::string& except = {})
    {
        std::vector<SessionEntry> out;
        for (const auto& s : sambaSessions())
            if (s.user != except)
                out.push_back({s.user, s.computer, s.openFiles});
        return sorted(out);
    }
    // Waits (bounded) until smbstatus agrees with `done`.
    template <typename F> bool eventually(F done)
    {
        for (int i = 0; i < 50; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    std::string firstBox() const { return boxes.shown.empty() ? std::string() : boxes.shown.front().text; }

    RecordingMessageBoxes boxes;
    ManualClock clock;
    NoFolders inspector;
    std::unique_ptr<SambaNetManagement> net;
    std::unique_ptr<SessionMonitor> monitor;
    std::string admin;
};

TEST_F(RemoteServerTest, NamedServerShowsWhatSambaReportsAndClosesFilesAndSessions)
{
    logOnAs(admin, "pw-admin");
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    ASSERT_TRUE(a.open("sub"));
    auto& b = connect(bob, "pw-bob", true);
    ASSERT_TRUE(b.open("b.txt"));
    // A session that began within the last second has at times come back from the server without
    // its connected time (-1 seconds, no time at all): let the sessions age a second first.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    monitor->setRemoteServer("127.0.0.1");
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    EXPECT_EQ(monitor->captionText(), "Current sessions: (server:127.0.0.1)");
    // The service also lists the helper's own logon while it asks: the administrator, no files.
    std::vector<SessionEntry> others;
    int adminRows = 0;
    for (const auto& row : monitor->sessionRows()) {
        if (row.user == admin) {
            ++adminRows;
            EXPECT_EQ(row.openFiles, 0u);
        } else {
            others.push_back(row);
        }
    }
    EXPECT_LE(adminRows, 1);
    EXPECT_EQ(sorted(others), sorted({{alice, "127.0.0.1", 2}, {bob, "127.0.0.2", 1}}));
    EXPECT_EQ(sorted(others), localEntries(admin));
    EXPECT_EQ(monitor->openFilesTotal(), 3u);
    // The server tells how long each session has been connected and idle: it began during this test.
    for (const auto& row : others) {
        ASSERT_TRUE(row.details.connectedAt && row.details.idleSeconds) << row.user;
        EXPECT_LE(std::llabs(*row.details.connectedAt - static_cast<int64_t>(::time(nullptr))), 120) << row.user;
        // Samba answers NetConnEnum with one made-up IPC$ connection: that is no share of theirs.
        EXPECT_TRUE(row.details.shares.empty()) << row.details.shares.front();
    }
    // The folder of each disk share, as the server writes it, for the shares view.
    std::vector<NetShareInfo> shares;
    ASSERT_TRUE(net->enumShares(ServerName{"127.0.0.1"}, shares).ok());
    std::string docsFolder = "C:" + server->sharePath("docs").string();
    std::replace(docsFolder.begin(), docsFolder.end(), '/', '\\');
    EXPECT_NE(std::find(shares.begin(), shares.end(), NetShareInfo{"docs", docsFolder}), shares.end())
        << (shares.empty() ? std::string("no shares") : shares.front().name + " " + shares.front().path);
    for (const auto& share : shares)
        EXPECT_NE(share.name, "IPC$");

    // The open files of the selected user, as the server names them.
    const auto rows = monitor->sessionRows();
    const auto aliceRow = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.user == alice; });
    ASSERT_NE(aliceRow, rows.end());
    DeskCommands(*monitor).clickSessionRow(static_cast<int>(aliceRow - rows.begin()));
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    std::vector<std::string> paths;
    for (const auto& f : monitor->openFileRows())
        paths.push_back(f.path);
    ASSERT_EQ(paths.size(), 2u);
    std::sort(paths.begin(), paths.end());
    EXPECT_TRUE(paths[0].ends_with("\\docs\\report.txt")) << paths[0];
    EXPECT_TRUE(paths[1].ends_with("\\docs\\sub")) << paths[1];

    // "Close resource" closes that one file and nothing else.
    const auto& fileRows = monitor->openFileRows();
    const auto report =
        std::find_if(fileRows.begin(), fileRows.end(), [](const auto& f) { return f.path.ends_with("report.txt"); });
    const uint32_t reportId = report->id;
    DeskCommands(*monitor).selectFileRow(static_cast<int>(report - fileRows.begin()));
    DeskCommands(*monitor).closeResource();
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    ASSERT_EQ(monitor->openFileRows().size(), 1u);
    EXPECT_TRUE(monitor->openFileRows()[0].path.ends_with("\\docs\\sub"));
    EXPECT_TRUE(eventually([&] {
        auto local = localEntries(admin);
        return local == sorted({{alice, "127.0.0.1", 1}, {bob, "127.0.0.2", 1}});
    }));
    // Closed already: the server answers "not found", and a file that is not open is closed
    // (Samba 4.22 answers so even to the close that closed it).
    NetStatus again = net->closeFile(ServerName{"127.0.0.1"}, reportId);
    EXPECT_TRUE(again.ok()) << again.text;

    // Closing bob's session ends it on the server.
    monitor->pollSessions();
    const auto now = monitor->sessionRows();
    const auto bobRow = std::find_if(now.begin(), now.end(), [&](const auto& r) { return r.user == bob; });
    ASSERT_NE(bobRow, now.end());
    DeskCommands(*monitor).selectSessionRow(static_cast<int>(bobRow - now.begin()));
    DeskCommands(*monitor).closeSession();
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    EXPECT_TRUE(eventually([&] { return localEntries(admin) == sorted({{alice, "127.0.0.1", 1}}); }));
    monitor->pollSessions();
    for (const auto& row : monitor->sessionRows())
        EXPECT_NE(row.user, bob);
    EXPECT_EQ(monitor->captionText(), "Current sessions: (server:127.0.0.1)");
}

TEST_F(RemoteServerTest, OneHelperLogsOnOnceAndIsStartedAgainWhenItDies)
{
    logOnAs(admin, "pw-admin");
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    ASSERT_TRUE(a.open("sub"));
    auto& b = connect(bob, "pw-bob", true);
    ASSERT_TRUE(b.open("b.txt"));

    const ServerName remote{"127.0.0.1"};
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net->enumSessions(remote, sessions).ok());
    const auto helper = net->srvsvcHelperPid();
    ASSERT_TRUE(helper.has_value());
    // Every user's files in one call, each with its user, as each user's own enumeration gives them.
    std::vector<NetFileInfo> all;
    NetStatus st = net->enumAllFiles(remote, all);
    ASSERT_TRUE(st.ok()) << st.text;
    const auto filesOf = [&](const std::string& user) {
        return std::count_if(all.begin(), all.end(), [&](const NetFileInfo& f) { return f.user == user; });
    };
    EXPECT_EQ(filesOf(alice), 2);
    EXPECT_EQ(filesOf(bob), 1);
    std::vector<NetFileInfo> aliceOwn;
    ASSERT_TRUE(net->enumFiles(remote, alice, aliceOwn).ok());
    EXPECT_EQ(aliceOwn.size(), 2u);
    EXPECT_EQ(net->srvsvcHelperPid(), helper);  // still the same helper, still logged on

    ::kill(-*helper, SIGKILL);
    EXPECT_TRUE(eventually([&] { return ::kill(*helper, 0) != 0 || !net->srvsvcHelperPid(); }));
    st = net->enumSessions(remote, sessions);
    ASSERT_TRUE(st.ok()) << st.text;
    const auto again = net->srvsvcHelperPid();
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(*again, *helper);
    int others = 0;
    for (const auto& s : sessions)
        others += s.user == alice || s.user == bob;
    EXPECT_EQ(others, 2);

    // Back to this computer: the helper goes.
    ASSERT_TRUE(net->enumSessions({}, sessions).ok());
    EXPECT_FALSE(net->srvsvcHelperPid().has_value());
}

TEST_F(RemoteServerTest, CloseResourceOnThisComputerClosesOneFile)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    ASSERT_TRUE(a.open("b.txt"));
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    ASSERT_EQ(test::columns(monitor->sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 2}}));
    DeskCommands(*monitor).clickSessionRow(0);
    ASSERT_EQ(monitor->openFileRows().size(), 2u);
    const auto& rows = monitor->openFileRows();
    const int reportRow = rows[0].path.ends_with("/report.txt") ? 0 : 1;
    DeskCommands(*monitor).selectFileRow(reportRow);

    // Even root needs an account of the server for its RPC service, and is told where to put it.
    DeskCommands(*monitor).closeResource();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_TRUE(contains(boxes.shown[0].text, "Even as root")) << boxes.shown[0].text;
    EXPECT_TRUE(contains(boxes.shown[0].text, (dataDir / "credentials").string())) << boxes.shown[0].text;
    EXPECT_EQ(localEntries(), (std::vector<SessionEntry>{{alice, "127.0.0.1", 2}}));

    logOnAs(admin, "pw-admin");
    boxes.shown.clear();
    DeskCommands(*monitor).closeResource();
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    ASSERT_EQ(monitor->openFileRows().size(), 1u);
    EXPECT_TRUE(monitor->openFileRows()[0].path.ends_with("/b.txt"));
    EXPECT_TRUE(eventually([&] {
        auto local = localEntries(admin);
        return local == std::vector<SessionEntry>{{alice, "127.0.0.1", 1}};
    }));
}

TEST_F(RemoteServerTest, UnreachableServerAndMissingRightsAreClearErrors)
{
    logOnAs(alice, "pw-alice");
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << firstBox();
    const std::vector<SessionEntry> local{{alice, "127.0.0.1", 1}};
    ASSERT_EQ(test::columns(monitor->sessionRows()), local);

    // Nothing listens on 127.0.0.3: one box, back to this computer, the rows kept.
    monitor->setRemoteServer("127.0.0.3");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_TRUE(contains(boxes.shown[0].text, "server \"127.0.0.3\" cannot be reached")) << boxes.shown[0].text;
    EXPECT_EQ(monitor->captionText(), "Current sessions: (the poll failed)");
    EXPECT_EQ(test::columns(monitor->sessionRows()), local);
    a.open("b.txt");
    monitor->pollSessions();
    EXPECT_EQ(boxes.shown.size(), 1u) << boxes.shown.back().text;
    EXPECT_EQ(test::columns(monitor->sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 2}}));

    // An ordinary account may not list sessions: the server's refusal, said plainly.
    boxes.shown.clear();
    monitor->setRemoteServer("127.0.0.1");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(contains(boxes.shown[0].text, "access was denied to the account \"" + alice + "\""))
        << boxes.shown[0].text;
    EXPECT_TRUE(contains(boxes.shown[0].text, "Administrators group")) << boxes.shown[0].text;
    EXPECT_EQ(monitor->captionText(), "Current sessions: (the poll failed)");

    // A wrong password is a logon failure that names the file to mend.
    logOnAs(alice, "not-her-password");
    std::vector<NetSessionInfo> sessions;
    NetStatus st = net->enumSessions(ServerName{"127.0.0.1"}, sessions);
    EXPECT_EQ(st.code, netcode::LogonFailure) << st.text;
    EXPECT_TRUE(contains(st.text, (dataDir / "credentials").string())) << st.text;

    // A right password that others may read has leaked: refused, and told so.
    logOnAs(alice, "pw-alice");
    std::filesystem::permissions(dataDir / "credentials", std::filesystem::perms(0644));
    st = net->enumSessions(ServerName{"127.0.0.1"}, sessions);
    EXPECT_EQ(st.code, netcode::LogonFailure) << st.text;
    EXPECT_TRUE(contains(st.text, "others than its owner may read it")) << st.text;
}

}  // namespace
