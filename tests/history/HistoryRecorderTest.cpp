#include "MonitorFixture.h"
#include "history/HistoryLog.h"
#include "history/HistoryReader.h"
#include "history/HistoryRecorder.h"

#include <gtest/gtest.h>

#include <fstream>
#ifdef __linux__
#include <sys/mount.h>
#include <unistd.h>
#endif

using namespace vantor;
using vantor::test::MonitorHarness;

namespace {

// The NetApi32 shape: files come without the computer that holds them (or, given a name, with a
// computer named otherwise than the sessions name it).
class NoComputerNet final : public NetManagement {
public:
    explicit NoComputerNet(NetManagement& inner, std::string computer = {})
        : m_inner(inner)
        , m_computer(std::move(computer))
    {
    }
    NetStatus enumSessions(const ServerName& s, std::vector<NetSessionInfo>& out) override
    {
        return m_inner.enumSessions(s, out);
    }
    NetStatus enumFiles(const ServerName& s, const std::string& user, std::vector<NetFileInfo>& out) override
    {
        auto status = m_inner.enumFiles(s, user, out);
        for (auto& f : out)
            f.computer = m_computer;
        return status;
    }
    NetStatus deleteSession(const ServerName& s, const std::string& c, const std::string& u) override
    {
        return m_inner.deleteSession(s, c, u);
    }
    NetStatus enumUsers(std::vector<std::string>& out) override { return m_inner.enumUsers(out); }
    NetStatus closeFile(const ServerName& s, uint32_t id) override { return m_inner.closeFile(s, id); }

private:
    NetManagement& m_inner;
    std::string m_computer;
};

FakeSession session(const std::string& user, const std::string& computer, std::vector<std::string> paths = {})
{
    FakeSession s{user, computer, {}, std::nullopt};
    uint32_t id = 100;
    for (auto& p : paths)
        s.files.push_back({id++, std::move(p), computer});
    return s;
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() { h.monitor.addPollObserver(&recorder); }

    void pollAt(int64_t t, std::vector<FakeSession> sessions)
    {
        h.clock.set(t);
        h.net.setSessions(std::move(sessions));
        h.monitor.pollSessions();
    }
    std::string usersLog() const { return h.dir.readText("users.log"); }
    std::string filesLog() const { return h.dir.readText("files.log"); }
    std::string at(int64_t t) const { return std::to_string(t); }

    MonitorHarness h;
    HistoryRecorder recorder{h.net, h.monitor.settings, h.dir.path()};
    const int64_t t0 = 1'700'000'000;
};

}  // namespace

TEST_F(RecorderTest, ASessionIsWrittenWhenItIsGoneWithTheFilesItWasSeenHolding)
{
    pollAt(t0, {session("alice", "10.0.0.5", {"/srv/a"})});
    EXPECT_EQ(usersLog(), "");
    EXPECT_EQ(filesLog(), at(t0) + " alice 10.0.0.5 /srv/a\n");

    pollAt(t0 + 3, {session("alice", "10.0.0.5", {"/srv/a"})});
    pollAt(t0 + 6, {session("alice", "10.0.0.5", {"/srv/b", "/srv/a"})});
    pollAt(t0 + 9, {session("alice", "10.0.0.5")});  // closed both; reopening a later would not log again
    pollAt(t0 + 12, {session("alice", "10.0.0.5", {"/srv/a"})});
    EXPECT_EQ(filesLog(), at(t0) + " alice 10.0.0.5 /srv/a\n" + at(t0 + 6) + " alice 10.0.0.5 /srv/b\n");
    EXPECT_EQ(usersLog(), "");

    pollAt(t0 + 15, {});
    EXPECT_EQ(usersLog(), at(t0) + " alice 10.0.0.5 12\n");

    const auto history = HistoryData::load(h.dir.path());
    ASSERT_EQ(history.sessions().size(), 1u);
    EXPECT_EQ(history.sessions()[0].fileCount, 2u);
}

TEST_F(RecorderTest, TwoSessionsOfOnePairAreTwoSessions)
{
    pollAt(t0, {session("bob", "pc"), session("bob", "pc")});
    pollAt(t0 + 3, {session("bob", "pc")});
    EXPECT_EQ(usersLog(), at(t0) + " bob pc 0\n");
    pollAt(t0 + 6, {session("bob", "pc"), session("bob", "pc")});
    pollAt(t0 + 9, {session("carol", "pc")});
    EXPECT_EQ(usersLog(), at(t0) + " bob pc 0\n" + at(t0) + " bob pc 6\n" + at(t0 + 6) + " bob pc 0\n");
    ASSERT_EQ(recorder.openSessions().size(), 1u);
    EXPECT_EQ(recorder.openSessions()[0].user, "carol");
}

TEST_F(RecorderTest, ExitWritesTheSessionsStillOpen)
{
    pollAt(t0, {session("dave", "pc1", {"/x"}), session("erin", "pc2")});
    pollAt(t0 + 3, {session("dave", "pc1", {"/x"}), session("erin", "pc2")});
    recorder.finish(t0 + 5);
    EXPECT_EQ(usersLog(), at(t0) + " dave pc1 5\n" + at(t0) + " erin pc2 5\n");
    EXPECT_TRUE(recorder.openSessions().empty());
    recorder.finish(t0 + 9);  // nothing twice
    EXPECT_EQ(HistoryData::load(h.dir.path()).sessions().size(), 2u);
}

TEST_F(RecorderTest, SettingsStopLinesButNotTheFollowingOfSessions)
{
    h.monitor.settings.logOpenedFiles = 0;
    pollAt(t0, {session("frank", "pc", {"/a"})});
    using Op = FakeNetManagement::Op;
    const int calls = h.net.callCount(Op::EnumFiles) + h.net.callCount(Op::EnumAllFiles);
    pollAt(t0 + 1, {session("frank", "pc", {"/a"})});
    EXPECT_EQ(h.net.callCount(Op::EnumFiles) + h.net.callCount(Op::EnumAllFiles), calls);
    h.monitor.settings.noHistory = 1;
    pollAt(t0 + 3, {session("gina", "pc")});  // frank ends while history is off: not written
    EXPECT_EQ(usersLog(), "");
    h.monitor.settings.noHistory = 0;
    h.monitor.settings.logOpenedFiles = 1;
    pollAt(t0 + 6, {session("gina", "pc", {"/g"})});
    pollAt(t0 + 9, {});
    EXPECT_EQ(usersLog(), at(t0 + 3) + " gina pc 3\n");  // began while history was off
    EXPECT_EQ(filesLog(), at(t0 + 6) + " gina pc /g\n");
}

TEST_F(RecorderTest, AFailedFileEnumerationIsMadeUpAtTheNextPoll)
{
    h.net.setSessions({session("hal", "pc", {"/h"})});
    const std::vector<SessionEntry> kept = {{"hal", "pc", 1}};
    h.net.failNext(FakeNetManagement::Op::EnumAllFiles, {netcode::AccessDenied, "denied"});
    recorder.sessionsPolled(t0, std::nullopt, kept);
    EXPECT_EQ(filesLog(), "");
    recorder.sessionsPolled(t0 + 3, std::nullopt, kept);
    EXPECT_EQ(filesLog(), at(t0 + 3) + " hal pc /h\n");
}

TEST_F(RecorderTest, NamesThatTheFormatCannotHoldStillTieFilesToTheirSession)
{
    pollAt(t0,
           {session("Jo_Ann Smith", "my pc?", {"/srv/with blank/and?mark.txt"}), session("", "10.1.1.1", {"/ipc"})});
    pollAt(t0 + 4, {});
    EXPECT_EQ(usersLog(), at(t0) + " Jo_Ann_Smith my_pc_ 0\n" + at(t0) + " _ 10.1.1.1 0\n");
    const auto history = HistoryData::load(h.dir.path());
    ASSERT_EQ(history.sessions().size(), 2u);
    EXPECT_EQ(history.sessions()[0].user, "Jo Ann Smith");
    EXPECT_EQ(history.sessions()[0].fileCount, 1u);
    EXPECT_EQ(history.sessions()[1].user, " ");
    EXPECT_EQ(history.sessions()[1].fileCount, 1u);
}

TEST_F(RecorderTest, FilesWithoutAComputerGoToTheSessionsThatHoldFiles)
{
    NoComputerNet net(h.net);
    HistoryRecorder blind(net, h.monitor.settings, h.dir.path() / "blind");
    h.net.setSessions({session("kim", "pcA", {"/k1"}), session("kim", "pcB")});
    std::vector<SessionEntry> kept = {{"kim", "pcA", 1}, {"kim", "pcB", 0}};
    blind.sessionsPolled(t0, std::nullopt, kept);
    EXPECT_EQ(h.dir.readText("blind/files.log"), at(t0) + " kim pcA /k1\n");

    h.net.setSessions({session("kim", "pcA", {"/k1"}), session("kim", "pcB", {"/k2"})});
    kept = {{"kim", "pcA", 1}, {"kim", "pcB", 1}};
    blind.sessionsPolled(t0 + 3, std::nullopt, kept);
    // Which session holds which file cannot be told now: each gets what it has not logged yet.
    EXPECT_EQ(h.dir.readText("blind/files.log"), at(t0) + " kim pcA /k1\n" + at(t0 + 3) + " kim pcB /k1\n" + at(t0 + 3)
                                                     + " kim pcA /k2\n" + at(t0 + 3) + " kim pcB /k2\n");
}

TEST_F(RecorderTest, FilesAtAComputerNoSessionShowsAreNotLost)
{
    NoComputerNet net(h.net, "KIMS-LAPTOP");
    HistoryRecorder renamed(net, h.monitor.settings, h.dir.path() / "renamed");
    h.net.setSessions({session("kim", "10.0.0.7", {"/k1"}), session("lee", "10.0.0.8", {"/l"})});
    renamed.sessionsPolled(t0, std::nullopt, {{"kim", "10.0.0.7", 1}, {"lee", "10.0.0.8", 1}});
    EXPECT_EQ(h.dir.readText("renamed/files.log"), at(t0) + " kim 10.0.0.7 /k1\n" + at(t0) + " lee 10.0.0.8 /l\n");

    // The service finds "Kim"'s file for "kim" too; the computer tells whose it is.
    h.net.setSessions({session("kim", "10.0.0.7", {"/k1"}), session("Kim", "10.0.0.8", {"/K"})});
    recorder.sessionsPolled(t0, std::nullopt, {{"kim", "10.0.0.7", 1}, {"Kim", "10.0.0.8", 1}});
    EXPECT_EQ(filesLog(), at(t0) + " kim 10.0.0.7 /k1\n" + at(t0) + " Kim 10.0.0.8 /K\n");
}

TEST_F(RecorderTest, SessionsOfAServerNoLongerWatchedEndWhereTheyWereLastSeen)
{
    std::vector<SessionEntry> kept = {{"lou", "pc", 0}};
    recorder.sessionsPolled(t0, ServerName{"far"}, kept);
    recorder.sessionsPolled(t0 + 3, ServerName{"far"}, kept);
    recorder.sessionsPolled(t0 + 60, std::nullopt, kept);
    EXPECT_EQ(usersLog(), at(t0) + " lou pc 3\n");
    ASSERT_EQ(recorder.openSessions().size(), 1u);
    EXPECT_EQ(recorder.openSessions()[0].start, t0 + 60);
    // A clock set back does not give a session a window that misses its own files.
    recorder.sessionsPolled(t0 + 30, std::nullopt, kept);
    recorder.finish(t0 + 20);
    EXPECT_EQ(usersLog(), at(t0) + " lou pc 3\n" + at(t0 + 60) + " lou pc 0\n");
}

TEST_F(RecorderTest, OneEnumerationPerPollServesEveryUser)
{
    using Op = FakeNetManagement::Op;
    std::vector<FakeSession> many;
    std::vector<SessionEntry> kept;
    for (int i = 0; i < 15; ++i) {
        const std::string user = "u" + std::to_string(i);
        many.push_back(session(user, "pc" + std::to_string(i), {"/f" + std::to_string(i)}));
        kept.push_back({user, "pc" + std::to_string(i), 1});
    }
    // A user whose name differs only in case shares the files the service gives for the name.
    many.push_back(session("U0", "pcU", {"/upper"}));
    kept.push_back({"U0", "pcU", 1});
    h.net.setSessions(many);
    recorder.sessionsPolled(t0, std::nullopt, kept);
    EXPECT_EQ(h.net.callCount(Op::EnumAllFiles), 1);
    EXPECT_EQ(h.net.callCount(Op::EnumFiles), 0);
    std::string expected;
    for (int i = 0; i < 15; ++i)
        expected += at(t0) + " u" + std::to_string(i) + " pc" + std::to_string(i) + " /f" + std::to_string(i) + "\n";
    expected += at(t0) + " U0 pcU /upper\n";
    EXPECT_EQ(filesLog(), expected);

    // With the options as they stood at the poll, whatever they are when the work is done.
    h.monitor.settings.logOpenedFiles = 0;
    recorder.record(t0 + 3, std::nullopt, {{"v", "pc", 1}}, {0, 1});
    EXPECT_EQ(h.net.callCount(Op::EnumAllFiles), 2);
}

TEST_F(RecorderTest, ARestartGoesOnWithTheKeptSessionsAndEndsTheGoneOnesWhereLastSeen)
{
    const auto stateFile = h.dir.path() / sessionStateName;
    recorder.keepStateIn(stateFile);
    pollAt(t0, {session("alice", "10.0.0.5", {"/srv/a", "/srv/b"}), session("bob", "pc2")});
    pollAt(t0 + 60, {session("alice", "10.0.0.5", {"/srv/a", "/srv/b"}), session("bob", "pc2")});
#ifndef _WIN32  // Windows keeps no such mode bits
    EXPECT_EQ(std::filesystem::status(stateFile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif

    // A crash: nothing more is told. The next process reads what this one kept.
    HistoryRecorder next{h.net, h.monitor.settings, h.dir.path()};
    next.keepStateIn(stateFile);
    const auto restored = next.restore(t0 + 80);
    EXPECT_EQ(restored.error, "");
    EXPECT_EQ(restored.sessions,
              (std::vector<std::pair<std::string, std::string>>{{"alice", "10.0.0.5"}, {"bob", "pc2"}}));
    next.record(t0 + 81, ServerName{}, {{"alice", "10.0.0.5", 2}}, {});
    EXPECT_EQ(usersLog(), at(t0) + " bob pc2 60\n");
    // A clean stop keeps them too; the start after it goes on once more.
    next.saveState(t0 + 82);
    HistoryRecorder third{h.net, h.monitor.settings, h.dir.path()};
    third.keepStateIn(stateFile);
    EXPECT_EQ(third.restore(t0 + 90).sessions.size(), 1u);
    third.record(t0 + 90, ServerName{}, {{"alice", "10.0.0.5", 2}}, {});
    third.record(t0 + 93, ServerName{}, {}, {});

    EXPECT_EQ(usersLog(), at(t0) + " bob pc2 60\n" + at(t0) + " alice 10.0.0.5 90\n");
    EXPECT_EQ(filesLog(), at(t0) + " alice 10.0.0.5 /srv/a\n" + at(t0) + " alice 10.0.0.5 /srv/b\n");
    const auto history = HistoryData::load(h.dir.path());
    ASSERT_EQ(history.sessions().size(), 2u);
    EXPECT_EQ(history.sessions()[1].fileCount, 2u);
}

TEST_F(RecorderTest, AKeptStateTooOldOrDamagedGoesOnWithNothing)
{
    const auto stateFile = h.dir.path() / sessionStateName;
    recorder.keepStateIn(stateFile);
    pollAt(t0, {session("carl", "pc")});
    pollAt(t0 + 3, {session("carl", "pc")});
    recorder.saveState(t0 + 4);

    // Down for an hour: the carl there now may be another session; the kept one ended when last seen.
    HistoryRecorder later{h.net, h.monitor.settings, h.dir.path()};
    later.keepStateIn(stateFile);
    EXPECT_TRUE(later.restore(t0 + 3600).sessions.empty());
    EXPECT_EQ(usersLog(), at(t0) + " carl pc 3\n");

    h.dir.write(sessionStateName, "vantor-sessions 1\nsaved 5\nsession 1 2 x\n");
    HistoryRecorder damaged{h.net, h.monitor.settings, h.dir.path()};
    damaged.keepStateIn(stateFile);
    const auto restored = damaged.restore(t0 + 3600);
    EXPECT_TRUE(restored.sessions.empty());
    EXPECT_NE(restored.error.find("line 3"), std::string::npos) << restored.error;
}

#ifdef __linux__
namespace {

// A file system of its own, 64 KiB, that the test can fill; unmounted whatever happens.
struct TinyDisk {
    TinyDisk()
    {
        if (::geteuid() == 0 && ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") == 0)
            mounted = true;
    }
    ~TinyDisk()
    {
        if (mounted)
            ::umount2(dir.path().c_str(), MNT_DETACH);
    }
    // Fills what is left with one file; false when the disk took it all (it is not full then).
    bool fill() const
    {
        std::ofstream out(dir / "filler", std::ios::binary | std::ios::app);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && out; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size())).flush();
        return !out;
    }
    vantor::test::TempDir dir;
    bool mounted = false;
};

}  // namespace

TEST_F(RecorderTest, AFullDiskBreaksNoLineAndLosesNone)
{
    TinyDisk disk;
    if (!disk.mounted)
        GTEST_SKIP() << "needs root to mount a small file system of its own";
    HistoryRecorder onDisk{h.net, h.monitor.settings, disk.dir.path()};
    std::vector<std::pair<std::string, bool>> failures;
    int recovered = 0;
    onDisk.onWriteFailed = [&](const std::string& error, bool first) { failures.emplace_back(error, first); };
    onDisk.onWriteRecovered = [&] { ++recovered; };
    // users.log's last page half used: the next lines fit partly, and a write stops half way.
    std::string earlier;
    for (int i = 0; earlier.size() < 4000; ++i)
        earlier += std::to_string(t0) + " early" + std::to_string(i) + " pc 1\n";
    ASSERT_TRUE(appendToLog(disk.dir.path(), usersLogName, earlier));

    std::vector<SessionEntry> crowd;
    for (int i = 0; i < 40; ++i)
        crowd.push_back({"someone-with-a-long-name-" + std::to_string(i), "pc", 0});
    onDisk.record(t0, ServerName{}, crowd, {});
    ASSERT_TRUE(disk.fill());
    onDisk.record(t0 + 3, ServerName{}, {}, {});  // forty lines, and no room for them
    onDisk.record(t0 + 6, ServerName{}, {{"late", "pc", 0}}, {});
    EXPECT_EQ(disk.dir.read(usersLogName), earlier);  // not half a line more
    ASSERT_GE(failures.size(), 2u);
    EXPECT_TRUE(failures[0].second);
    EXPECT_FALSE(failures[1].second);
    EXPECT_NE(failures[0].first.find("users.log"), std::string::npos) << failures[0].first;
    EXPECT_EQ(recovered, 0);

    std::filesystem::remove(disk.dir / "filler");
    onDisk.record(t0 + 9, ServerName{}, {}, {});
    EXPECT_EQ(recovered, 1);
    std::string expected = earlier;
    for (const auto& e : crowd)
        expected += at(t0) + " " + e.user + " pc 0\n";
    expected += at(t0 + 6) + " late pc 0\n";
    EXPECT_EQ(disk.dir.read(usersLogName), expected);
}
#endif
