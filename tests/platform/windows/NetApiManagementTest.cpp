#include "platform/PlatformNetManagement.h"
#include "platform/netapi/NetApiManagement.h"

#include "WineDetect.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <ctime>
#include <memory>
#include <optional>

using namespace vantor;
using namespace vantor::windows;

namespace {

// What a recording stand-in for NetApi32 was called with, and what it answers next.
struct Recorder {
    struct Call {
        std::optional<std::wstring> server;
        std::optional<std::wstring> client;  // NetSessionDel's client, NetFileEnum's base path
        std::optional<std::wstring> user;
        DWORD level = 0;
        DWORD filter = 0;
        DWORD preferred = 0;
        bool resumeHandle = false;
        DWORD fileId = 0;
    };
    std::vector<Call> calls;
    NET_API_STATUS answer = NERR_Success;
    std::vector<std::pair<std::wstring, std::wstring>> names;  // (user or path, computer)
    bool giveBuffer = true;  // also with a failed status
    DWORD fileIdBase = 100;
    // NetConnectionEnum: by qualifier, the (user, share, seconds connected) it lists, and its status.
    struct Connection {
        std::wstring user, share;
        DWORD time = 0;
    };
    std::map<std::wstring, std::vector<Connection>> connections;
    NET_API_STATUS connectionAnswer = NERR_Success;
    std::vector<Call> connectionCalls;

    // Buffers handed out, by address, and how often each was freed.
    std::map<void*, std::shared_ptr<void>> live;
    std::map<void*, int> frees;
    int strayFrees = 0;
};

Recorder* rec = nullptr;

std::optional<std::wstring> text(LPCWSTR s)
{
    return s ? std::optional<std::wstring>(s) : std::nullopt;
}

// Hands out a buffer that stays alive (with its strings) until the backend frees it.
template <typename Info, typename Fill> void handOut(LPBYTE* out, DWORD* read, DWORD* total, Fill fill)
{
    *read = 0;
    *total = 0;
    *out = nullptr;
    if (!rec->giveBuffer)
        return;
    struct Storage {
        std::deque<std::wstring> strings;
        std::vector<Info> entries;
    };
    auto storage = std::make_shared<Storage>();
    for (const auto& [name, computer] : rec->names) {
        Info info{};
        const LPWSTR first = storage->strings.emplace_back(name).data();
        const LPWSTR second = storage->strings.emplace_back(computer).data();
        fill(info, first, second, static_cast<DWORD>(storage->entries.size()));
        storage->entries.push_back(info);
    }
    // An empty answer still comes as a buffer of its own, as NetApi32 may give one.
    storage->entries.reserve(1);
    void* address = storage->entries.data();
    rec->live[address] = storage;
    *out = static_cast<LPBYTE>(address);
    *read = *total = static_cast<DWORD>(storage->entries.size());
}

NET_API_STATUS WINAPI fakeSessionEnum(LMSTR server, LMSTR client, LMSTR user, DWORD level, LPBYTE* buffer,
                                      DWORD preferred, LPDWORD read, LPDWORD total, LPDWORD resume)
{
    rec->calls.push_back({text(server), text(client), text(user), level, 0, preferred, resume != nullptr, 0});
    handOut<SESSION_INFO_1>(buffer, read, total, [](SESSION_INFO_1& i, LPWSTR name, LPWSTR computer, DWORD n) {
        i.sesi1_username = name;
        i.sesi1_cname = computer;
        i.sesi1_num_opens = n + 2;
        i.sesi1_time = 3600 * (n + 1);
        i.sesi1_idle_time = 60 * n;
    });
    return rec->answer;
}

NET_API_STATUS WINAPI fakeConnectionEnum(LMSTR server, LMSTR qualifier, DWORD level, LPBYTE* buffer, DWORD preferred,
                                         LPDWORD read, LPDWORD total, LPDWORD resume)
{
    rec->connectionCalls.push_back({text(server), text(qualifier), {}, level, 0, preferred, resume != nullptr, 0});
    *buffer = nullptr;
    *read = *total = 0;
    if (rec->connectionAnswer != NERR_Success)
        return rec->connectionAnswer;
    // A computer without connections: no buffer at all, as NetApi32 may answer.
    const auto listed = rec->connections.find(qualifier ? qualifier : L"");
    if (listed == rec->connections.end())
        return NERR_Success;
    struct Storage {
        std::deque<std::wstring> strings;
        std::vector<CONNECTION_INFO_1> entries;
    };
    auto storage = std::make_shared<Storage>();
    for (const auto& c : listed->second) {
        CONNECTION_INFO_1 info{};
        info.coni1_username = storage->strings.emplace_back(c.user).data();
        info.coni1_netname = storage->strings.emplace_back(c.share).data();
        info.coni1_time = c.time;
        storage->entries.push_back(info);
    }
    storage->entries.reserve(1);
    void* address = storage->entries.data();
    rec->live[address] = storage;
    *buffer = static_cast<LPBYTE>(address);
    *read = *total = static_cast<DWORD>(storage->entries.size());
    return NERR_Success;
}

NET_API_STATUS WINAPI fakeFileEnum(LMSTR server, LMSTR basePath, LMSTR user, DWORD level, LPBYTE* buffer,
                                   DWORD preferred, LPDWORD read, LPDWORD total, PDWORD_PTR resume)
{
    rec->calls.push_back({text(server), text(basePath), text(user), level, 0, preferred, resume != nullptr, 0});
    handOut<FILE_INFO_3>(buffer, read, total, [](FILE_INFO_3& i, LPWSTR path, LPWSTR owner, DWORD n) {
        i.fi3_id = rec->fileIdBase + n;
        i.fi3_pathname = path;
        i.fi3_username = owner;
    });
    return rec->answer;
}

NET_API_STATUS WINAPI fakeUserEnum(LPCWSTR server, DWORD level, DWORD filter, LPBYTE* buffer, DWORD preferred,
                                   LPDWORD read, LPDWORD total, LPDWORD resume)
{
    rec->calls.push_back({text(server), {}, {}, level, filter, preferred, resume != nullptr, 0});
    handOut<USER_INFO_0>(buffer, read, total, [](USER_INFO_0& i, LPWSTR name, LPWSTR, DWORD) { i.usri0_name = name; });
    return rec->answer;
}

NET_API_STATUS WINAPI fakeSessionDel(LMSTR server, LMSTR client, LMSTR user)
{
    rec->calls.push_back({text(server), text(client), text(user), 0, 0, 0, false, 0});
    return rec->answer;
}

NET_API_STATUS WINAPI fakeFileClose(LMSTR server, DWORD id)
{
    rec->calls.push_back({text(server), {}, {}, 0, 0, 0, false, id});
    return rec->answer;
}

NET_API_STATUS WINAPI fakeBufferFree(LPVOID buffer)
{
    if (rec->live.erase(buffer))
        ++rec->frees[buffer];
    else
        ++rec->strayFrees;
    return NERR_Success;
}

class NetApiManagementTest : public ::testing::Test {
protected:
    void SetUp() override { rec = &recorder; }
    void TearDown() override
    {
        // Every buffer handed out was freed exactly once, and nothing else was freed.
        EXPECT_TRUE(recorder.live.empty());
        EXPECT_EQ(recorder.strayFrees, 0);
        for (const auto& [address, count] : recorder.frees)
            EXPECT_EQ(count, 1);
        rec = nullptr;
    }

    static NetApiCalls fakes()
    {
        NetApiCalls calls;
        calls.sessionEnum = &fakeSessionEnum;
        calls.connectionEnum = &fakeConnectionEnum;
        calls.fileEnum = &fakeFileEnum;
        calls.sessionDel = &fakeSessionDel;
        calls.userEnum = &fakeUserEnum;
        calls.fileClose = &fakeFileClose;
        calls.bufferFree = &fakeBufferFree;
        return calls;
    }

    Recorder recorder;
    NetApiManagement net{fakes()};
};

TEST_F(NetApiManagementTest, SessionsComeAtLevelOneWithTheServerInUncForm)
{
    recorder.names = {{L"alice", L"PC1"}, {L"bob", L"192.168.1.20"}};
    std::vector<NetSessionInfo> sessions{{"stale", "x", 1}};
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].user, "alice");
    EXPECT_EQ(sessions[0].computer, "PC1");
    EXPECT_EQ(sessions[0].openFiles, 2u);
    EXPECT_EQ(sessions[1].computer, "192.168.1.20");
    EXPECT_EQ(sessions[1].openFiles, 3u);
    // Level 1 tells how long each has been connected and idle: bob (two hours) began an hour before alice.
    ASSERT_TRUE(sessions[0].details.connectedAt && sessions[1].details.connectedAt);
    EXPECT_NEAR(static_cast<double>(*sessions[0].details.connectedAt - *sessions[1].details.connectedAt), 3600, 2);
    EXPECT_NEAR(static_cast<double>(std::time(nullptr) - *sessions[0].details.connectedAt), 3600, 5);
    EXPECT_EQ(sessions[1].details.idleSeconds, 60);

    ASSERT_TRUE(net.enumSessions(ServerName{"FILES"}, sessions).ok());

    ASSERT_EQ(recorder.calls.size(), 2u);
    const auto& local = recorder.calls[0];
    EXPECT_EQ(local.server, std::nullopt);
    EXPECT_EQ(local.client, std::nullopt);
    EXPECT_EQ(local.user, std::nullopt);
    EXPECT_EQ(local.level, 1u);
    EXPECT_EQ(local.preferred, MAX_PREFERRED_LENGTH);
    EXPECT_FALSE(local.resumeHandle);
    EXPECT_EQ(recorder.calls[1].server, std::wstring(L"\\\\FILES"));
    EXPECT_EQ(recorder.frees.size(), 2u);
}

TEST_F(NetApiManagementTest, SharesInUseComeFromTheConnectionsOfEachComputer)
{
    recorder.names = {{L"alice", L"PC1"}, {L"bob", L"PC1"}, {L"carol", L"PC2"}};
    recorder.connections[L"\\\\PC1"] = {
        {L"alice", L"docs", 100}, {L"ALICE", L"media", 500}, {L"bob", L"docs", 50}, {L"alice", L"IPC$", 900}};
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions(ServerName{"FILES"}, sessions).ok());
    ASSERT_EQ(sessions.size(), 3u);
    // Longest connected first; the administration pipe is no share.
    EXPECT_EQ(sessions[0].details.shares, (std::vector<std::string>{"media", "docs"}));
    EXPECT_EQ(sessions[1].details.shares, (std::vector<std::string>{"docs"}));
    EXPECT_TRUE(sessions[2].details.shares.empty());
    // One call per computer, on the same server, at level 1.
    ASSERT_EQ(recorder.connectionCalls.size(), 2u);
    EXPECT_EQ(recorder.connectionCalls[0].server, std::wstring(L"\\\\FILES"));
    EXPECT_EQ(recorder.connectionCalls[0].client, std::wstring(L"\\\\PC1"));
    EXPECT_EQ(recorder.connectionCalls[1].client, std::wstring(L"\\\\PC2"));
    EXPECT_EQ(recorder.connectionCalls[0].level, 1u);

    // A service that refuses or does not offer the connections still lists its sessions, without
    // shares, and is asked once.
    recorder.connectionCalls.clear();
    recorder.connectionAnswer = ERROR_NOT_SUPPORTED;
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    ASSERT_EQ(sessions.size(), 3u);
    for (const auto& s : sessions)
        EXPECT_TRUE(s.details.shares.empty()) << s.user;
    EXPECT_EQ(recorder.connectionCalls.size(), 1u);
}

TEST_F(NetApiManagementTest, NamesAreConvertedToUtf8AndCutWithoutSplittingALetter)
{
    recorder.names = {{std::wstring(300, L'u'), std::wstring(200, L'\u00e9')}, {L"", L""}, {L"Zo\u00eb", L"PC\u65e5"}};
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].user, std::string(255, 'u'));
    std::string cutE;
    for (int i = 0; i < 127; ++i)
        cutE += "\xc3\xa9";
    EXPECT_EQ(sessions[0].computer, cutE);  // 127 two-byte letters; the 128th would split
    EXPECT_EQ(sessions[1].user, "");
    EXPECT_EQ(sessions[2].user, "Zo\xc3\xab");
    EXPECT_EQ(sessions[2].computer, "PC\xe6\x97\xa5");

    // And back: a UTF-8 name reaches NetApi32 as the same letters.
    EXPECT_TRUE(net.deleteSession(ServerName{"F\xc3\xbc"}, "PC\xe6\x97\xa5", "Zo\xc3\xab").ok());
    EXPECT_EQ(recorder.calls.back().server, std::wstring(L"\\\\F\u00fc"));
    EXPECT_EQ(recorder.calls.back().client, std::wstring(L"\\\\PC\u65e5"));
    EXPECT_EQ(recorder.calls.back().user, std::wstring(L"Zo\u00eb"));
    // Bytes that are not UTF-8 cannot name anyone: nothing is called.
    const std::size_t calls = recorder.calls.size();
    EXPECT_FALSE(net.deleteSession({}, "PC1", "Zo\xeb").ok());
    EXPECT_EQ(recorder.calls.size(), calls);
}

TEST_F(NetApiManagementTest, AFailedEnumerationStillFreesItsBufferAndSaysWhy)
{
    recorder.answer = NERR_ServerNotStarted;
    recorder.names = {{L"alice", L"PC1"}};
    std::vector<NetSessionInfo> sessions{{"stale", "x", 1}};
    const NetStatus status = net.enumSessions({}, sessions);
    EXPECT_EQ(status.code, 2114u);
    EXPECT_FALSE(status.text.empty());
    EXPECT_EQ(status.text.find('\n'), std::string::npos);
    EXPECT_TRUE(sessions.empty());
    EXPECT_EQ(recorder.frees.size(), 1u);

    recorder.answer = ERROR_ACCESS_DENIED;
    recorder.giveBuffer = false;
    std::vector<std::string> users;
    EXPECT_EQ(net.enumUsers(users).code, 5u);
}

TEST_F(NetApiManagementTest, MoreDataKeepsTheEntriesThatCame)
{
    recorder.answer = ERROR_MORE_DATA;
    recorder.names = {{L"alice", L"PC1"}};
    std::vector<NetSessionInfo> sessions;
    EXPECT_TRUE(net.enumSessions({}, sessions).ok());
    EXPECT_EQ(sessions.size(), 1u);
}

TEST_F(NetApiManagementTest, FilesAreEnumeratedAtLevelThreeForOneUser)
{
    recorder.names = {{L"C:\\Shares\\Docs\\a.txt", L""}, {L"C:\\Shares\\caf\u00e9", L""}};
    std::vector<NetFileInfo> files;
    ASSERT_TRUE(net.enumFiles(ServerName{"FILES"}, "alice", files).ok());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].id, 100u);
    EXPECT_EQ(files[0].path, "C:\\Shares\\Docs\\a.txt");
    EXPECT_TRUE(files[0].computer.empty());
    EXPECT_EQ(files[1].id, 101u);
    EXPECT_EQ(files[1].path, "C:\\Shares\\caf\xc3\xa9");

    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].server, std::wstring(L"\\\\FILES"));
    EXPECT_EQ(recorder.calls[0].client, std::nullopt);  // no base-path filter
    EXPECT_EQ(recorder.calls[0].user, std::wstring(L"alice"));
    EXPECT_EQ(recorder.calls[0].level, 3u);
    EXPECT_EQ(recorder.calls[0].preferred, MAX_PREFERRED_LENGTH);
    EXPECT_FALSE(recorder.calls[0].resumeHandle);
}

TEST_F(NetApiManagementTest, EveryUsersFilesComeInOneCallWithTheirUsers)
{
    recorder.names = {{L"C:\\Shares\\a.txt", L"alice"}, {L"C:\\Shares\\b.txt", L"Zo\u00eb"}};
    std::vector<NetFileInfo> files;
    ASSERT_TRUE(net.enumAllFiles({}, files).ok());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].user, "alice");
    EXPECT_EQ(files[1].user, "Zo\xc3\xab");
    EXPECT_EQ(files[1].path, "C:\\Shares\\b.txt");
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].user, std::nullopt);
    EXPECT_EQ(recorder.calls[0].level, 3u);

    recorder.answer = ERROR_ACCESS_DENIED;
    EXPECT_EQ(net.enumAllFiles({}, files).code, 5u);
    EXPECT_TRUE(files.empty());
}

TEST_F(NetApiManagementTest, ClosingASessionNamesTheClientInUncForm)
{
    EXPECT_TRUE(net.deleteSession({}, "PC1", "alice").ok());
    recorder.answer = NERR_ClientNameNotFound;
    const NetStatus status = net.deleteSession(ServerName{"FILES"}, "PC2", "bob");
    EXPECT_EQ(status.code, netcode::ClientNameNotFound);
    EXPECT_FALSE(status.text.empty());

    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[0].server, std::nullopt);
    EXPECT_EQ(recorder.calls[0].client, std::wstring(L"\\\\PC1"));
    EXPECT_EQ(recorder.calls[0].user, std::wstring(L"alice"));
    EXPECT_EQ(recorder.calls[1].server, std::wstring(L"\\\\FILES"));
    EXPECT_EQ(recorder.calls[1].client, std::wstring(L"\\\\PC2"));
}

TEST_F(NetApiManagementTest, AccountsAndClosingAFile)
{
    recorder.names = {{L"Administrator", L""}, {L"Guest", L""}};
    std::vector<std::string> users;
    ASSERT_TRUE(net.enumUsers(users).ok());
    EXPECT_EQ(users, (std::vector<std::string>{"Administrator", "Guest"}));
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].server, std::nullopt);
    EXPECT_EQ(recorder.calls[0].level, 0u);
    EXPECT_EQ(recorder.calls[0].filter, 0u);

    EXPECT_TRUE(net.closeFile(ServerName{"FILES"}, 4711).ok());
    EXPECT_EQ(recorder.calls[1].server, std::wstring(L"\\\\FILES"));
    EXPECT_EQ(recorder.calls[1].fileId, 4711u);
}

// The real NetApi32. Wine lists no sessions, does not support NetFileEnum and aborts in
// NetSessionDel and NetConnectionEnum (unimplemented), so only the calls that answer there are made
// there; with no session listed, no connection is asked for.
TEST(NetApiManagementReal, AnswersForThisComputer)
{
    // The program asks for the platform's service without naming it; on Windows it is NetApi32.
    const auto service = createPlatformNetManagement();
    ASSERT_NE(dynamic_cast<NetApiManagement*>(service.get()), nullptr);
    NetManagement& net = *service;
    const bool wine = vantor::test::runningUnderWine();
    std::vector<NetSessionInfo> sessions;
    const NetStatus sessionsStatus = net.enumSessions({}, sessions);
    // On Windows, listing sessions at level 1 takes an administrator.
    EXPECT_TRUE(sessionsStatus.ok() || (!wine && sessionsStatus.code == netcode::AccessDenied)) << sessionsStatus.text;
    std::vector<std::string> users;
    const NetStatus usersStatus = net.enumUsers(users);
    EXPECT_TRUE(usersStatus.ok()) << usersStatus.text;
    EXPECT_FALSE(users.empty());

    std::vector<NetFileInfo> files;
    const NetStatus filesStatus = net.enumFiles({}, "nobody-vantor-test", files);
    if (wine) {
        EXPECT_EQ(filesStatus.code, netcode::NotSupported);
        EXPECT_FALSE(filesStatus.text.empty());
    }
    EXPECT_TRUE(files.empty());
}

}  // namespace
