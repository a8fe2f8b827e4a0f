// The Samba backend against stand-in tools: small scripts that print recorded or edited output,
// fail as Samba's tools fail, or hang.

#include "platform/samba/SambaNetManagement.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace vantor;
using namespace std::chrono_literals;

namespace {

const std::string root = "/tmp/vantor-smbd-FJKbOc/shares/docs/";
const std::string ann = "vtann_17372_0";
const std::string ben = "vtben_17372_1";

class SambaBackend : public ::testing::Test {
protected:
    // A stand-in tool: logs its arguments, one run per line, then runs `body`.
    std::string tool(const std::string& name, const std::string& body)
    {
        const auto path = dir / name;
        std::ofstream(path) << "#!/bin/sh\necho \"$*\" >> " << (dir / (name + ".log")).string() << "\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms(0755));
        return path.string();
    }
    std::vector<std::string> runs(const std::string& name)
    {
        std::ifstream in(dir / (name + ".log"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    void fixture(const std::string& name, const std::string& content) { dir.write(name, content); }

    SambaOptions options(const std::string& smbstatusBody, const std::string& smbcontrolBody = "exit 0")
    {
        SambaOptions o;
        o.configFile = "/etc/vantor-test/smb.conf";
        o.smbstatus = tool("smbstatus", smbstatusBody);
        o.smbcontrol = tool("smbcontrol", smbcontrolBody);
        o.pdbedit = tool("pdbedit", "printf 'root:0:\\nann:1001:Ann\\n'");
        o.timeLimit = 5s;
        o.now = [this] { return now; };
        return o;
    }
    std::string catRecorded() const { return "cat " VANTOR_TEST_DATA "/samba/smbstatus-small.json"; }

    test::TempDir dir;
    std::chrono::steady_clock::time_point now{};
};

TEST_F(SambaBackend, SessionsCountTheOpensOfTheirProcess)
{
    SambaNetManagement net(options(catRecorded()));
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].user, ann);
    EXPECT_EQ(sessions[0].computer, "127.0.0.2");
    EXPECT_EQ(sessions[0].openFiles, 1u);
    EXPECT_EQ(sessions[1].computer, "127.0.0.1");
    EXPECT_EQ(sessions[1].openFiles, 3u);
    EXPECT_EQ(sessions[2].user, ben);
    EXPECT_EQ(sessions[2].openFiles, 2u);
    EXPECT_EQ(runs("smbstatus"), std::vector<std::string>{"-s /etc/vantor-test/smb.conf --json -B"});

    // Every session of the user, whatever its computer, in the document's order; names compare
    // without regard to case. Each carries the identifier Samba's srvsvc service closes it by.
    std::vector<NetFileInfo> files;
    ASSERT_TRUE(net.enumFiles({}, "VTANN_17372_0", files).ok());
    std::vector<std::tuple<uint32_t, std::string, std::string>> got;
    for (const auto& f : files)
        got.emplace_back(f.id, f.path, f.computer);
    EXPECT_EQ(got, (std::vector<std::tuple<uint32_t, std::string, std::string>>{
                       {samba::srvsvcFileId(17402, 3), root + "projects/plan.txt", "127.0.0.2"},
                       {samba::srvsvcFileId(17398, 11), root + "projects", "127.0.0.1"},
                       {samba::srvsvcFileId(17398, 5), root + "budget.xlsx", "127.0.0.1"},
                       {samba::srvsvcFileId(17398, 9), root + "caf\xc3\xa9.txt", "127.0.0.1"}}));
    // As Samba 4.17's NetFileEnum numbered share_file_id 5 of smbd 25535, and pids past 16 bits.
    EXPECT_EQ(samba::srvsvcFileId(25535, 5), 1673461765u);
    EXPECT_EQ(samba::srvsvcFileId(0x12345, 7), 0x23450007u);
    ASSERT_TRUE(net.enumFiles({}, "nobody", files).ok());
    EXPECT_TRUE(files.empty());
}

TEST_F(SambaBackend, OneRunServesTheCallsOfOnePoll)
{
    SambaNetManagement net(options(catRecorded()));
    std::vector<NetSessionInfo> sessions;
    std::vector<NetFileInfo> files;
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    now += 900ms;
    ASSERT_TRUE(net.enumFiles({}, ann, files).ok());
    EXPECT_EQ(runs("smbstatus").size(), 1u);
    now += 200ms;
    ASSERT_TRUE(net.enumFiles({}, ann, files).ok());
    EXPECT_EQ(runs("smbstatus").size(), 2u);

    // Closing a session changes what smbstatus says: the next call must ask again.
    ASSERT_TRUE(net.deleteSession({}, "127.0.0.1", ann).ok());
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    EXPECT_EQ(runs("smbstatus").size(), 3u);

    auto o = options(catRecorded());
    o.reuseWindow = 0ms;
    SambaNetManagement always(o);
    ASSERT_TRUE(always.enumSessions({}, sessions).ok());
    ASSERT_TRUE(always.enumFiles({}, ann, files).ok());
    EXPECT_EQ(runs("smbstatus").size(), 5u);
}

TEST_F(SambaBackend, DeleteSessionShutsDownEveryMatchingProcess)
{
    fixture("two.json", R"({"sessions":{
        "1":{"username":"Ann","remote_machine":"10.0.0.9","server_id":{"pid":"300"}},
        "2":{"username":"ann","remote_machine":"10.0.0.9","server_id":{"pid":"301"}},
        "3":{"username":"ann","remote_machine":"10.0.0.8","server_id":{"pid":"302"}},
        "4":{"username":"ben","remote_machine":"10.0.0.9","server_id":{"pid":"303"}}}})");
    SambaNetManagement net(options("cat " + (dir / "two.json").string()));
    ASSERT_TRUE(net.deleteSession({}, "\\\\10.0.0.9", "ANN").ok());
    EXPECT_EQ(runs("smbcontrol"), (std::vector<std::string>{"-s /etc/vantor-test/smb.conf 300 shutdown",
                                                            "-s /etc/vantor-test/smb.conf 301 shutdown"}));

    NetStatus none = net.deleteSession({}, "10.0.0.7", "ann");
    EXPECT_EQ(none.code, netcode::ClientNameNotFound);
    EXPECT_NE(none.text.find("10.0.0.7"), std::string::npos);
    EXPECT_EQ(runs("smbcontrol").size(), 2u);

    // Success only when every process was told.
    SambaNetManagement failing(options("cat " + (dir / "two.json").string(),
                                       "[ \"$3\" = 301 ] && { echo 'Error: no such process' >&2; exit 1; }; exit 0"));
    NetStatus st = failing.deleteSession({}, "10.0.0.9", "ann");
    EXPECT_FALSE(st.ok());
    EXPECT_NE(st.text.find("no such process"), std::string::npos) << st.text;
    EXPECT_EQ(runs("smbcontrol").size(), 4u);
}

TEST_F(SambaBackend, AnEmptyListFromAStoppedServerIsAnError)
{
    const std::string empty = R"(echo '{"sessions":{},"tcons":{},"open_files":{}}')";
    SambaNetManagement stopped(options(empty, "echo \"Can't find pid for destination 'smbd'\" >&2; exit 1"));
    std::vector<NetSessionInfo> sessions{{"stale", "x", 1}};
    NetStatus st = stopped.enumSessions({}, sessions);
    EXPECT_EQ(st.code, netcode::ServiceNotRunning);
    EXPECT_NE(st.text.find("The Samba server (smbd) is not running"), std::string::npos);
    EXPECT_NE(st.text.find("systemctl start smbd"), std::string::npos);
    EXPECT_TRUE(sessions.empty());
    EXPECT_EQ(runs("smbcontrol"), std::vector<std::string>{"-s /etc/vantor-test/smb.conf smbd ping"});

    SambaNetManagement idle(options(empty, "echo 'PONG from pid 1'"));
    EXPECT_TRUE(idle.enumSessions({}, sessions).ok());
    EXPECT_TRUE(sessions.empty());
}

// smbstatus cannot write the opens as JSON while one holds WRITE_OWNER: the sessions, their shares
// and the opens then come from the listings it still writes, and the poll says so. Recorded from
// Samba 4.17 and 4.22 while a client held a file with full access.
TEST_F(SambaBackend, AnOpenThatBreaksTheJsonListingIsListedFromTheText)
{
    struct Recording {
        std::string version;
        std::vector<std::pair<std::string, uint32_t>> sessions;  // user and open count
        std::string fullAccessUser, fullAccessPath;
    } recordings[] = {
        {"4.17", {{"vtblind1", 2}}, "vtblind1", "/tmp/vt-blind-smb/share/a.txt"},
        {"4.22",
         {{"vtalice", 1}, {"vtcarol", 1}, {"vtbob", 1}, {"vtalice", 2}},
         "vtcarol",
         "/srv/rec/root/shares/docs/carol.txt"},
    };
    for (const Recording& rec : recordings) {
        SCOPED_TRACE(rec.version);
        const std::string data = VANTOR_TEST_DATA "/samba/smbstatus-" + rec.version;
        fixture("json-works", "no");
        const std::string body = "case \"$*\" in\n"
                                 "*'--json -B') if grep -q yes "
                                 + (dir / "json-works").string()
                                 + "; then cat " VANTOR_TEST_DATA "/samba/smbstatus-small.json; else cat " + data
                                 + "-panic.txt >&2; exit 1; fi ;;\n"
                                   "*'--json -b') cat "
                                 + data
                                 + "-full-access-b.json ;;\n"
                                   "*'--json -S') cat "
                                 + data
                                 + "-full-access-S.json ;;\n"
                                   "*'-L -B') if grep -q yes "
                                 + (dir / "json-works").string() + "; then echo 'No locked files'; else cat " + data
                                 + "-full-access-locks.txt; fi ;;\n"
                                   "esac";
        SambaOptions o = options(body);
        o.reuseWindow = 0ms;
        SambaNetManagement net(o);
        std::vector<NetSessionInfo> sessions;
        ASSERT_TRUE(net.enumSessions({}, sessions).ok());
        std::vector<std::pair<std::string, uint32_t>> counts;
        for (const auto& session : sessions) {
            counts.push_back({session.user, session.openFiles});
            EXPECT_EQ(session.details.shares, std::vector<std::string>{"docs"}) << session.user;
            EXPECT_TRUE(session.details.connectedAt.has_value()) << session.user;
        }
        EXPECT_EQ(counts, rec.sessions);
        const ListingNotes notes = net.listingNotes();
        EXPECT_EQ(notes.route, "text-opens");
        EXPECT_NE(notes.routeReason.find("tomap == 0"), std::string::npos) << notes.routeReason;
        EXPECT_NE(notes.routeMissing.find("share_file_id"), std::string::npos);
        EXPECT_TRUE(notes.skipped.empty());

        std::vector<NetFileInfo> files;
        ASSERT_TRUE(net.enumFiles({}, rec.fullAccessUser, files).ok());
        ASSERT_FALSE(files.empty());
        const NetFileInfo& held = files.front();
        EXPECT_EQ(held.path, rec.fullAccessPath);
        EXPECT_EQ(held.details.share, "docs");
        EXPECT_EQ(held.details.relativePath, std::filesystem::path(rec.fullAccessPath).filename().string());
        EXPECT_TRUE(held.details.read && held.details.write);
        EXPECT_EQ(held.details.denyMode, "none");
        EXPECT_EQ(held.details.oplock, "none");
        EXPECT_EQ(held.details.locks, 0u);
        EXPECT_TRUE(held.details.openedAt.has_value());
        // Such an open has no name the srvsvc service knows: closing it alone is refused with why,
        // never tried on whatever that number would name.
        NetStatus closed = net.closeFile({}, held.id);
        EXPECT_EQ(closed.code, netcode::NotSupported);
        EXPECT_NE(closed.text.find("Close the session"), std::string::npos);

        // While the text shows such an open, the JSON listing is not asked again; once it shows
        // none, the next poll is back on it.
        ASSERT_TRUE(net.enumSessions({}, sessions).ok());
        EXPECT_EQ(net.listingNotes().route, "text-opens");
        fixture("json-works", "yes");
        ASSERT_TRUE(net.enumSessions({}, sessions).ok());
        EXPECT_EQ(net.listingNotes().route, "text-opens");
        const auto jsonRuns = [&] {
            const auto all = runs("smbstatus");
            return std::count(all.begin(), all.end(), "-s /etc/vantor-test/smb.conf --json -B");
        };
        EXPECT_EQ(jsonRuns(), 1);
        ASSERT_TRUE(net.enumSessions({}, sessions).ok());
        EXPECT_EQ(sessions.size(), 3u);
        EXPECT_TRUE(net.listingNotes().route.empty());
        EXPECT_EQ(jsonRuns(), 2);
        std::filesystem::remove(dir / "smbstatus.log");
    }
}

TEST_F(SambaBackend, ToolFailuresBecomeTextsAPersonCanActOn)
{
    std::vector<NetSessionInfo> sessions;
    struct Case {
        std::string smbstatus;
        uint32_t code;
        std::string mention;
    } cases[] = {
        {"echo '{\"timestamp\":\"t\"}'; echo 'smbstatus only works as root!' >&2; exit 1", netcode::AccessDenied,
         "sudo vantor"},
        {"echo 'oops' >&2; exit 3", netcode::ToolFailed, "exit code 3: oops"},
        {"echo '{\"sessions\":{\"1\":{\"username\":\"a\",\"remote'", netcode::BadToolOutput, "could not be read"},
        {"echo '<html>'", netcode::BadToolOutput, "could not be read"},
        {"echo '{\"sessions\":{}}'; echo \"Can't load /etc/vantor-test/smb.conf - run testparm to debug "
         "it\" >&2",
         netcode::ToolFailed, "testparm /etc/vantor-test/smb.conf"},
        {"kill -9 $$", netcode::ToolFailed, "signal 9"},
    };
    for (const auto& c : cases) {
        SambaNetManagement net(options(c.smbstatus));
        NetStatus st = net.enumSessions({}, sessions);
        EXPECT_EQ(st.code, c.code) << c.smbstatus << " -> " << st.text;
        EXPECT_NE(st.text.find(c.mention), std::string::npos) << st.text;
        EXPECT_TRUE(sessions.empty());
    }

    auto o = options("sleep 10");
    o.timeLimit = 200ms;
    SambaNetManagement slow(o);
    const auto start = std::chrono::steady_clock::now();
    NetStatus st = slow.enumSessions({}, sessions);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(st.code, netcode::ToolTimedOut);
    EXPECT_NE(st.text.find("200 ms"), std::string::npos) << st.text;

    o = options("");
    o.smbstatus = (dir / "not-installed" / "smbstatus").string();
    SambaNetManagement missing(o);
    st = missing.enumSessions({}, sessions);
    EXPECT_EQ(st.code, netcode::ToolFailed);
    EXPECT_NE(st.text.find("was not found"), std::string::npos) << st.text;
}

TEST_F(SambaBackend, AccountsComeFromPdbedit)
{
    SambaNetManagement net(options(catRecorded()));
    std::vector<std::string> users;
    ASSERT_TRUE(net.enumUsers(users).ok());
    EXPECT_EQ(users, (std::vector<std::string>{"root", "ann"}));
    EXPECT_EQ(runs("pdbedit"), std::vector<std::string>{"-s /etc/vantor-test/smb.conf -L"});
}

// The shares view's folders: testparm's reading of the configuration, recorded from a server with a
// per-user share (path ending in %U), a [homes] without a path and a [printers] print share.
TEST_F(SambaBackend, SharesComeFromTheConfigurationReadAgainOnlyWhenItChanges)
{
    const std::string conf = (dir / "smb.conf").string();
    fixture("smb.conf", "[docs]\n");
    auto o = options(catRecorded());
    o.configFile = conf;
    fixture("testparm.status", "0");
    o.testparm = tool("testparm", "cat " VANTOR_TEST_DATA "/samba/testparm-shares.txt; exit $(cat "
                                      + (dir / "testparm.status").string() + ")");
    SambaNetManagement net(o);

    std::vector<NetShareInfo> shares;
    ASSERT_TRUE(net.enumShares({}, shares).ok());
    EXPECT_EQ(shares, (std::vector<NetShareInfo>{{"docs", "/tmp/d2x/shares/docs"}, {"pub", "/tmp/d2x/shares/pub/%U"}}));
    EXPECT_EQ(runs("testparm"), std::vector<std::string>{"--suppress-prompt " + conf});
    now += std::chrono::hours(1);
    ASSERT_TRUE(net.enumShares({}, shares).ok());
    EXPECT_EQ(runs("testparm").size(), 1u) << "the configuration did not change";

    // A failing testparm is an error of this call alone, tried again a while later or when the
    // configuration changes.
    fixture("testparm.status", "1");
    fixture("smb.conf", "[docs]\n[media]\n");
    EXPECT_FALSE(net.enumShares({}, shares).ok());
    EXPECT_TRUE(shares.empty());
    now += 30s;
    EXPECT_FALSE(net.enumShares({}, shares).ok());
    EXPECT_EQ(runs("testparm").size(), 2u);
    fixture("testparm.status", "0");
    now += 31s;
    ASSERT_TRUE(net.enumShares({}, shares).ok());
    EXPECT_EQ(shares.size(), 2u);
    EXPECT_EQ(runs("testparm").size(), 3u);
}

TEST_F(SambaBackend, CallsFromSeveralThreadsShareOneRun)
{
    SambaNetManagement net(options(catRecorded()));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                std::vector<NetSessionInfo> sessions;
                if (!net.enumSessions({}, sessions).ok() || sessions.size() != 3)
                    ++wrong;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(runs("smbstatus").size(), 1u);
}

}  // namespace

namespace {

// The srvsvc helper stood in for by a script in the place of Python: it logs its arguments once per
// start and each request it reads, and answers every request with the same line.
class SrvsvcBackend : public SambaBackend {
protected:
    SambaNetManagement make(const std::string& body)
    {
        SambaOptions o = options(catRecorded());
        o.srvsvcHelper = (dir / "vantor-srvsvc.py").string();
        std::ofstream(o.srvsvcHelper) << "# stand-in\n";
        o.python = tool("python", body);
        o.credentialsFile = "/data/vantor/credentials";
        o.useKerberos = false;
        o.timeLimit = 2s;
        return SambaNetManagement(o);
    }
    std::string serving(const std::string& answer) const
    {
        return "while IFS= read -r line; do echo \"$line\" >> " + (dir / "requests.log").string() + "; printf '%s\\n' '"
               + answer + "'; done";
    }
    std::string call(const std::string& rest) const
    {
        return (dir / "vantor-srvsvc.py").string()
               + " --config /etc/vantor-test/smb.conf --credentials /data/vantor/credentials --no-kerberos -- " + rest;
    }
};

bool gone(pid_t pid)
{
    return ::kill(pid, 0) != 0;
}

TEST_F(SrvsvcBackend, OneHelperServesEveryCallForItsServer)
{
    auto net = make(serving("{\"ok\":true,\"sessions\":[{\"user\":\"ann\",\"computer\":\"PC1\",\"opens\":2}],"
                            "\"files\":[{\"id\":4294967295,\"path\":\"C:\\\\data\\\\a.txt\",\"user\":\"Ann\"}]}"));
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions(ServerName{"\\\\fileserver"}, sessions).ok());
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].user, "ann");
    EXPECT_EQ(sessions[0].computer, "PC1");
    EXPECT_EQ(sessions[0].openFiles, 2u);
    std::vector<NetFileInfo> files;
    ASSERT_TRUE(net.enumFiles(ServerName{"fileserver"}, "-ann", files).ok());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].id, 4294967295u);
    EXPECT_EQ(files[0].path, "C:\\data\\a.txt");
    ASSERT_TRUE(net.enumAllFiles(ServerName{"fileserver"}, files).ok());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].user, "Ann");
    EXPECT_TRUE(net.deleteSession(ServerName{"fileserver"}, "\\\\PC1", "ann").ok());
    EXPECT_TRUE(net.closeFile(ServerName{"fileserver"}, 77).ok());
    const auto first = net.srvsvcHelperPid();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(net.srvsvcHelperServer(), "fileserver");
    // This computer's single file goes to its own smbd over loopback, through a helper of its own.
    EXPECT_TRUE(net.closeFile({}, 1673461765).ok());
    EXPECT_TRUE(gone(*first));
    EXPECT_EQ(runs("python"), (std::vector<std::string>{call("fileserver serve"), call("127.0.0.1 serve")}));
    EXPECT_EQ(runs("requests"),
              (std::vector<std::string>{
                  R"({"command":"sessions"})", R"({"command":"files","user":"-ann"})", R"({"command":"files"})",
                  R"({"client":"PC1","command":"close-session","user":"ann"})", R"({"command":"close-file","id":77})",
                  R"({"command":"close-file","id":1673461765})"}));
    EXPECT_TRUE(runs("smbstatus").empty());

    // Names that would change the RPC binding or read as an option never reach the helper.
    for (const char* bad : {"a[b", "host,sign", "-x", "a b", "x@y", "\\\\"}) {
        NetStatus st = net.enumSessions(ServerName{bad}, sessions);
        EXPECT_EQ(st.code, netcode::BadNetPath) << bad;
    }
    EXPECT_EQ(runs("requests").size(), 6u);

    // Monitoring this computer again: no helper is left running.
    const auto loopback = net.srvsvcHelperPid();
    ASSERT_TRUE(loopback.has_value());
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    EXPECT_FALSE(net.srvsvcHelperPid().has_value());
    EXPECT_TRUE(gone(*loopback));
}

TEST_F(SrvsvcBackend, AHelperThatDiedIsStartedAgain)
{
    auto net = make(serving("{\"ok\":true,\"sessions\":[]}"));
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions(ServerName{"fs1"}, sessions).ok());
    const auto first = net.srvsvcHelperPid();
    ASSERT_TRUE(first.has_value());
    ::kill(-*first, SIGKILL);
    std::this_thread::sleep_for(100ms);
    NetStatus st = net.enumSessions(ServerName{"fs1"}, sessions);
    EXPECT_TRUE(st.ok()) << st.text;
    const auto second = net.srvsvcHelperPid();
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*second, *first);
    EXPECT_EQ(runs("python").size(), 2u);
    EXPECT_EQ(runs("requests").size(), 2u);
}

// Samba 4.22 closes the file and then answers WERR_FILE_NOT_FOUND, and the smbd that holds the
// file may close it only after the answer: the file gone then, or a moment later, is closed; the
// file still listed is not.
TEST_F(SrvsvcBackend, AFileGoneAfterItsCloseIsClosedWhatTheServerAnswers)
{
    const std::string notFound = R"({"ok":false,"error":{"kind":"werror","code":2,"name":"WERR_FILE_NOT_FOUND"}})";
    const std::string file77 = R"({"id":77,"path":"C:\\x","user":"ann"})";
    // The first `listedFor` listings after the close still show file 77, the later ones another file.
    auto helper = [&](int listedFor) {
        return "n=0; while IFS= read -r line; do case \"$line\" in *close-file*) printf '%s\\n' '" + notFound
               + "' ;; *) n=$((n+1)); if [ $n -le " + std::to_string(listedFor) + " ]; then printf '%s\\n' '"
               + R"({"ok":true,"files":[)" + file77 + "]}'; else printf '%s\\n' '"
               + R"({"ok":true,"files":[{"id":9,"path":"C:\\y","user":"ann"}]})" + "'; fi ;; esac; done";
    };
    EXPECT_TRUE(make(helper(0)).closeFile(ServerName{"fs1"}, 77).ok());
    EXPECT_TRUE(make(helper(2)).closeFile(ServerName{"fs1"}, 77).ok());
    EXPECT_EQ(make(helper(1000)).closeFile(ServerName{"fs1"}, 77).code, netcode::FileIdNotFound);
}

TEST_F(SrvsvcBackend, FailuresBecomeTextsAPersonCanActOn)
{
    std::vector<NetSessionInfo> sessions;
    auto answer = [&](const std::string& body) {
        auto net = make(body);
        return net.enumSessions(ServerName{"fs1"}, sessions);
    };
    auto error = [&](const std::string& fields) { return serving("{\"ok\":false,\"error\":{" + fields + "}}"); };
    NetStatus st = answer(error("\"kind\":\"werror\",\"code\":5,\"name\":\"WERR_ACCESS_DENIED\",\"account\":\"ann\""));
    EXPECT_EQ(st.code, netcode::AccessDenied);
    EXPECT_NE(st.text.find("access was denied to the account \"ann\" on server \"fs1\""), std::string::npos) << st.text;

    st = answer(error("\"kind\":\"credentials\",\"message\":\"no Kerberos ticket and no authentication file\""));
    EXPECT_EQ(st.code, netcode::LogonFailure);
    EXPECT_NE(st.text.find("/data/vantor/credentials"), std::string::npos) << st.text;
    EXPECT_NE(st.text.find("kinit"), std::string::npos) << st.text;

    st = answer(error("\"kind\":\"unreachable\",\"message\":\"10.0.0.9, port 445: Connection refused\""));
    EXPECT_EQ(st.code, netcode::BadNetPath);
    EXPECT_NE(st.text.find("Connection refused"), std::string::npos) << st.text;

    st = answer(error("\"kind\":\"ntstatus\",\"code\":3221225581,\"name\":\"NT_STATUS_LOGON_FAILURE\""));
    EXPECT_EQ(st.code, netcode::LogonFailure);

    st = answer(error("\"kind\":\"bindings\",\"message\":\"No module named samba\""));
    EXPECT_NE(st.text.find("python3-samba"), std::string::npos) << st.text;

    st = answer("echo 'Traceback (most recent call last):' >&2; exit 1");
    EXPECT_EQ(st.code, netcode::BadToolOutput);
    EXPECT_NE(st.text.find("Traceback"), std::string::npos) << st.text;

    st = answer("exec sleep 10");
    EXPECT_EQ(st.code, netcode::ToolTimedOut);
    EXPECT_NE(st.text.find("server \"fs1\" did not answer within 2 seconds"), std::string::npos) << st.text;

    SambaOptions o = options(catRecorded());
    o.srvsvcHelper = (dir / "missing.py").string();
    SambaNetManagement missing(o);
    st = missing.enumSessions(ServerName{"fs1"}, sessions);
    EXPECT_EQ(st.code, netcode::ToolFailed);
    EXPECT_NE(st.text.find("missing.py"), std::string::npos) << st.text;
}

}  // namespace
