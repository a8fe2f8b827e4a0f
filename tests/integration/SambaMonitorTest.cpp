// The monitor against a real private smbd on 127.0.0.1: what a poll shows must be what Samba
// really reports, a black-listed session must really end, and a stopped server must say so.

#include "SambaFixture.h"
#include "engine/Engine.h"
#include "monitor/DetailsText.h"
#include "monitor/DeskCommands.h"
#include "monitor/SessionMonitor.h"
#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;
using vantor::test::sorted;

namespace {

struct AllFolders final : FileInspector {
    bool isDirectoryOrUnreadable(const std::string& path) const override { return std::filesystem::is_directory(path); }
};

class SambaMonitorTest : public test::SambaFixture {
protected:
    void SetUp() override
    {
        if (const std::string why = test::sambaMissing(); !why.empty())
            GTEST_SKIP() << why;
        PrivateSambaServer::Options options;
        // SMB1's unix extensions: the one way smbclient takes a byte-range lock.
        options.globalOptions = {"server min protocol = NT1", "unix extensions = yes"};
        ASSERT_NO_FATAL_FAILURE(startServer(options));

        const auto docs = server->sharePath("docs");
        std::filesystem::create_directories(docs / "sub");
        for (const char* name : {"report.txt", "notes \xc3\xa9t\xc3\xa9.txt", "b.txt"})
            std::ofstream(docs / name) << "content\n";
        std::filesystem::permissions(docs / "sub", std::filesystem::perms(0777));

        SambaOptions sambaOptions;
        sambaOptions.configFile = server->configFile().string();
        net = std::make_unique<SambaNetManagement>(sambaOptions);
        monitor =
            std::make_unique<SessionMonitor>(SessionMonitor::Context{*net, boxes, clock, dataDir.path(), &inspector});
    }

    RecordingMessageBoxes boxes;
    ManualClock clock;
    AllFolders inspector;
    std::unique_ptr<SambaNetManagement> net;
    std::unique_ptr<SessionMonitor> monitor;
};

TEST_F(SambaMonitorTest, PollShowsUsersComputersAndOpenFiles)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    ASSERT_TRUE(a.open("notes \xc3\xa9t\xc3\xa9.txt"));
    ASSERT_TRUE(a.open("sub"));
    auto& b = connect(bob, "pw-bob", true);
    ASSERT_TRUE(b.open("b.txt"));
    EXPECT_FALSE(b.open("no-such-folder/x.txt"));

    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(sorted(monitor->sessionRows()), sorted({{alice, "127.0.0.1", 3}, {bob, "127.0.0.2", 1}}));
    EXPECT_EQ(monitor->openFilesTotal(), 4u);

    const auto rows = monitor->sessionRows();
    const int aliceRow = rows[0].user == alice ? 0 : 1;
    DeskCommands(*monitor).clickSessionRow(aliceRow);
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    std::vector<std::string> paths;
    for (const auto& f : monitor->openFileRows()) {
        paths.push_back(f.path);
        EXPECT_EQ(f.icon == FileIconKind::Folder, f.path.ends_with("/sub")) << f.path;
    }
    std::sort(paths.begin(), paths.end());
    const std::string docs = server->sharePath("docs").string();
    EXPECT_EQ(paths,
              (std::vector<std::string>{docs + "/notes \xc3\xa9t\xc3\xa9.txt", docs + "/report.txt", docs + "/sub"}));

    // Users compare as Windows compares them; each file names the client computer holding it.
    std::vector<NetFileInfo> files;
    std::string upper = bob;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_TRUE(net->enumFiles({}, upper, files).ok());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, docs + "/b.txt");
    EXPECT_EQ(files[0].computer, "127.0.0.2");

    std::vector<std::string> users;
    ASSERT_TRUE(net->enumUsers(users).ok());
    EXPECT_NE(std::find(users.begin(), users.end(), alice), users.end());
    EXPECT_NE(std::find(users.begin(), users.end(), bob), users.end());

    // A closed file is gone at the next poll.
    ASSERT_TRUE(a.close("report.txt"));
    EXPECT_FALSE(a.close("report.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past the reuse window
    monitor->pollSessions();
    EXPECT_EQ(sorted(monitor->sessionRows()), sorted({{alice, "127.0.0.1", 2}, {bob, "127.0.0.2", 1}}));

    // A client that leaves is gone at the next poll.
    b.disconnect();
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gone = sambaSessions().size() == 1;
    }
    EXPECT_TRUE(gone);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past the reuse window
    monitor->pollSessions();
    EXPECT_EQ(test::columns(monitor->sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 2}}));
}

TEST_F(SambaMonitorTest, BlackListedSessionIsClosedAtThePoll)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    auto& b = connect(bob, "pw-bob", true);
    ASSERT_TRUE(b.open("b.txt"));
    ASSERT_EQ(sambaSessions().size(), 2u);

    monitor->addToBlackList(bob, "127.0.0.2");
    boxes.shown.clear();
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(test::columns(monitor->sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 1}}));

    // smbcontrol's shutdown is a message: the process ends a moment later.
    std::vector<NetSessionInfo> left;
    for (int i = 0; i < 50; ++i) {
        left = sambaSessions();
        if (left.size() == 1)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].user, alice);

    // No session of that pair is left to close.
    EXPECT_EQ(net->deleteSession({}, "127.0.0.2", bob).code, netcode::ClientNameNotFound);
}

// A file held with full access makes smbstatus's JSON listing fail: the window's engine polls on
// through the other listings, and a black-listed user who holds such a file is still thrown out,
// within two polls.
TEST_F(SambaMonitorTest, AFullAccessOpenNeitherBlindsThePollNorShieldsABlackListedUser)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    const std::string held = holdWithFullAccess(bob, "pw-bob", "bob.txt");
    ASSERT_TRUE(held.empty()) << held;
    const ProcessResult json =
        runProcess({findProgram("smbstatus"), "-s", server->configFile().string(), "--json", "-B"});
    EXPECT_FALSE(json.exitedWith(0)) << "this Samba lists such an open as JSON: the fallback is not needed";

    std::vector<std::string> lines;
    EngineOptions options;
    options.pollMode = EngineOptions::PollMode::LoopThread;
    options.history = false;
    options.log = [&](LogLevel, const std::string& text) { lines.push_back(text); };
    Engine engine(SessionMonitor::Context{*net, boxes, clock, dataDir.path(), &inspector}, options);
    engine.start();
    engine.monitor().addToBlackList(bob, "127.0.0.1");
    boxes.shown.clear();
    ASSERT_TRUE(engine.poll());
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(test::columns(engine.monitor().sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 1}}));
    EXPECT_EQ(engine.pollState().route, "text-opens");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("falls back to another listing (text-opens)"), std::string::npos) << lines.front();
    EXPECT_NE(lines.front().find("tomap == 0"), std::string::npos) << lines.front();

    // The close is a message to bob's smbd: gone by the second poll.
    for (int i = 0; i < 50 && fullAccessClients.front()->running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(engine.poll());
    std::vector<std::string> users;
    for (const auto& s : sambaSessions())
        users.push_back(s.user);
    EXPECT_EQ(users, std::vector<std::string>{alice});
    // With the open gone (once its smbd has ended, a poll lists none) the JSON listing answers
    // again, and the journal says so once.
    for (int i = 0; i < 20 && !engine.pollState().route.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_TRUE(engine.poll());
    }
    EXPECT_EQ(engine.pollState().route, "");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("falls back") != std::string::npos; }),
              1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "the poll is back on its usual listing"), lines.end());
    EXPECT_EQ(engine.counters().read().sessionsClosed[static_cast<std::size_t>(CloseReason::BlackList)], 1u);
}

TEST_F(SambaMonitorTest, StoppedServerIsAnErrorAndTheTableKeepsItsRows)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    monitor->pollSessions();
    ASSERT_EQ(monitor->sessionRows().size(), 1u);

    // The first RPC call makes smbd start samba-dcerpcd and its rpcd_* workers, which outlive it
    // unless the server stops them as well.
    const std::string rpcclient = findProgram("rpcclient");
    if (rpcclient.find('/') != std::string::npos) {
        ProcessResult rpc = runProcess(
            {rpcclient, "-p", std::to_string(server->port()), "127.0.0.1", "-U", alice + "%pw-alice", "-c", "srvinfo"});
        EXPECT_EQ(rpc.outcome, ProcessResult::Outcome::Exited) << rpc.err;
        std::vector<int> helpers;
        for (int pid : processesWithArgument(server->configFile().string()))
            if (commandLineOf(pid).find("samba-dcerpcd") != std::string::npos)
                helpers.push_back(pid);
        EXPECT_FALSE(helpers.empty()) << "no samba-dcerpcd was started";
    }

    server->stopSmbd();
    net->invalidate();
    monitor->pollSessions();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_NE(boxes.shown[0].text.find("The Samba server (smbd) is not running"), std::string::npos)
        << boxes.shown[0].text;
    EXPECT_EQ(test::columns(monitor->sessionRows()), (std::vector<SessionEntry>{{alice, "127.0.0.1", 1}}));
    EXPECT_TRUE(processesWithArgument(server->configFile().string()).empty());
}

TEST_F(SambaMonitorTest, DetailsTellTheShareTheAccessAndTheTime)
{
    const auto docs = server->sharePath("docs");
    std::filesystem::permissions(docs / "b.txt", std::filesystem::perms(0666));
    clock.set(static_cast<int64_t>(::time(nullptr)));
    auto& a = connect(alice, "pw-alice", false);
    monitor->setListAllFiles(true);

    // With no file open on it, the share's folder comes from the server's configuration.
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    {
        const auto snap = monitor->snapshot();
        ASSERT_TRUE(snap->openFiles.empty());
        EXPECT_EQ(shareUses(snap->rows, snap->openFiles, snap->shares),
                  (std::vector<ShareUse>{{"docs", docs.string(), 1, {alice + "@127.0.0.1"}}}));
    }

    ASSERT_TRUE(a.open("b.txt"));  // writable: smbclient opens it for reading and writing
    ASSERT_TRUE(a.open("report.txt"));  // not writable for alice: read only

    net->invalidate();  // within a second of the last poll its smbstatus run would be used again
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    ASSERT_EQ(monitor->sessionRows().size(), 1u);
    const SessionDetails& d = monitor->sessionRows()[0].details;
    EXPECT_EQ(d.shares, std::vector<std::string>{"docs"});
    ASSERT_TRUE(d.connectedAt);
    // The tree connect happened during this test, by this computer's own clock.
    EXPECT_LE(std::llabs(*d.connectedAt - clock.now()), 60) << *d.connectedAt;
    EXPECT_FALSE(d.dialect.empty());
    EXPECT_TRUE(d.processId && *d.processId > 0);

    const auto snap = monitor->snapshot();
    ASSERT_TRUE(snap->openFilesListed) << snap->openFilesError;
    std::map<std::string, std::string> access;
    for (const auto& f : snap->openFiles) {
        EXPECT_EQ(f.details.share, "docs") << f.path;
        EXPECT_EQ(f.user, alice);
        access[f.details.relativePath] = accessText(f.details);
    }
    EXPECT_EQ(access, (std::map<std::string, std::string>{{"b.txt", "read/write"}, {"report.txt", "read"}}));
}

TEST_F(SambaMonitorTest, OpenFilesCountTheirByteRangeLocks)
{
    std::filesystem::permissions(server->sharePath("docs") / "b.txt", std::filesystem::perms(0666));
    SmbClientHolder::Options o;
    o.port = server->port();
    o.share = "docs";
    o.user = alice;
    o.password = "pw-alice";
    o.protocol = "NT1";
    o.logFile = dataDir / "client-locks.log";
    clients.push_back(std::make_unique<SmbClientHolder>(o));
    SmbClientHolder& a = *clients.back();
    std::string error;
    ASSERT_TRUE(a.connect(error)) << error;
    ASSERT_TRUE(a.posix());
    ASSERT_TRUE(a.open("b.txt"));
    ASSERT_TRUE(a.open("report.txt"));
    ASSERT_TRUE(a.lock("b.txt", true, 0, 16));
    ASSERT_TRUE(a.lock("b.txt", false, 32, 4));

    monitor->setListAllFiles(true);
    monitor->pollSessions();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    std::map<std::string, std::optional<uint32_t>> locks;
    for (const auto& f : monitor->snapshot()->openFiles)
        locks[f.details.relativePath] = f.details.locks;
    EXPECT_EQ(locks, (std::map<std::string, std::optional<uint32_t>>{{"b.txt", 2u}, {"report.txt", 0u}}));
}

}  // namespace

namespace {

TEST_F(SambaMonitorTest, PollProgramPrintsTheTableOrTheError)
{
    auto& a = connect(alice, "pw-alice", false);
    ASSERT_TRUE(a.open("report.txt"));
    const std::vector<std::string> argv{VANTOR_POLL_PROGRAM, "--samba-config", server->configFile().string(),
                                        "--data-dir", dataDir.path().string()};
    ProcessResult r = runProcess(argv);
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.out.find(alice + "  127.0.0.1  1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Open files of " + alice + ":\n  " + server->sharePath("docs").string() + "/report.txt"),
              std::string::npos)
        << r.out;
    // The details of each session and file come after what the window's tables show.
    EXPECT_NE(r.out.find("\n  Shares: docs\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/report.txt  (Share: docs, Access: read"), std::string::npos) << r.out;

    server->stopSmbd();
    r = runProcess(argv);
    EXPECT_TRUE(r.exitedWith(1));
    EXPECT_NE(r.err.find("The Samba server (smbd) is not running"), std::string::npos) << r.err;
}

}  // namespace
