#include "platform/netapi/NetApiManagement.h"

#include "platform/AsciiCase.h"
#include "platform/PlatformNetManagement.h"
#include "platform/netapi/AnsiText.h"
#include "platform/netapi/WindowsError.h"

#include <algorithm>
#include <ctime>
#include <memory>

namespace vantor::windows {

namespace {

constexpr std::size_t nameLimit = 255;

// Frees a buffer NetApi32 handed out exactly once, whatever the status that came with it.
class NetBuffer {
public:
    explicit NetBuffer(decltype(&::NetApiBufferFree) freeFn)
        : m_free(freeFn)
    {
    }
    ~NetBuffer()
    {
        if (m_data)
            m_free(m_data);
    }
    NetBuffer(const NetBuffer&) = delete;
    NetBuffer& operator=(const NetBuffer&) = delete;

    LPBYTE* out() { return &m_data; }
    template <typename T> const T* as() const { return reinterpret_cast<const T*>(m_data); }

private:
    decltype(&::NetApiBufferFree) m_free;
    LPBYTE m_data = nullptr;
};

// An enumeration answers ERROR_MORE_DATA only when the entries outgrew the buffer it sized a
// moment earlier; the entries it did return are good, and showing an error box every three
// seconds for a growing server would help nobody.
bool enumerationSucceeded(NET_API_STATUS code)
{
    return code == NERR_Success || code == ERROR_MORE_DATA;
}

NetStatus conversionFailed()
{
    return {netcode::NotEnoughMemory, windowsErrorText(netcode::NotEnoughMemory)};
}

// The server argument: null for this computer, otherwise "\\" followed by the name.
struct ServerArgument {
    bool ok = true;
    std::wstring unc;
    bool local = true;
    LPCWSTR get() const { return local ? nullptr : unc.c_str(); }
};

ServerArgument serverArgument(const ServerName& server)
{
    ServerArgument arg;
    if (!server)
        return arg;
    auto wide = utf8ToWide(*server);
    if (!wide) {
        arg.ok = false;
        return arg;
    }
    arg.local = false;
    arg.unc = L"\\\\" + *wide;
    return arg;
}

}  // namespace

NetStatus NetApiManagement::status(NET_API_STATUS code)
{
    if (code == NERR_Success)
        return NetStatus::success();
    return {static_cast<uint32_t>(code), windowsErrorText(code)};
}

NetStatus NetApiManagement::enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out)
{
    out.clear();
    const ServerArgument srv = serverArgument(server);
    if (!srv.ok)
        return conversionFailed();
    NetBuffer buffer(m_calls.bufferFree);
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS code = m_calls.sessionEnum(const_cast<LPWSTR>(srv.get()), nullptr, nullptr, 1, buffer.out(),
                                                    MAX_PREFERRED_LENGTH, &read, &total, nullptr);
    if (!enumerationSucceeded(code))
        return status(code);
    if (const auto* entries = buffer.as<SESSION_INFO_1>()) {
        out.reserve(read);
        for (DWORD i = 0; i < read; ++i) {
            const SESSION_INFO_1& e = entries[i];
            NetSessionInfo info{wideToUtf8(e.sesi1_username, nameLimit),
                                wideToUtf8(e.sesi1_cname, nameLimit),
                                static_cast<uint32_t>(e.sesi1_num_opens),
                                {}};
            // The server counts how long the session has been connected and idle; the moment it
            // began is by this computer's clock.
            info.details.connectedAt = static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(e.sesi1_time);
            info.details.idleSeconds = static_cast<int64_t>(e.sesi1_idle_time);
            out.push_back(std::move(info));
        }
    }
    addShares(srv.get(), out);
    return NetStatus::success();
}

void NetApiManagement::addShares(LPCWSTR server, std::vector<NetSessionInfo>& sessions)
{
    // One call per client computer: past this many the sessions go without their shares rather
    // than the poll waiting on them.
    constexpr std::size_t maxComputers = 32;
    std::vector<std::string> asked;
    for (NetSessionInfo& session : sessions) {
        if (session.computer.empty())
            continue;
        if (std::find(asked.begin(), asked.end(), session.computer) != asked.end())
            continue;
        if (asked.size() == maxComputers)
            return;
        asked.push_back(session.computer);
        const auto computer = utf8ToWide(session.computer);
        if (!computer)
            continue;
        const std::wstring qualifier = L"\\\\" + *computer;
        NetBuffer buffer(m_calls.bufferFree);
        DWORD read = 0;
        DWORD total = 0;
        const NET_API_STATUS code =
            m_calls.connectionEnum(const_cast<LPWSTR>(server), const_cast<LPWSTR>(qualifier.c_str()), 1, buffer.out(),
                                   MAX_PREFERRED_LENGTH, &read, &total, nullptr);
        // Refused, or not offered (Wine): the same for every computer, so ask no further.
        if (!enumerationSucceeded(code))
            return;
        const auto* entries = buffer.as<CONNECTION_INFO_1>();
        if (!entries)
            continue;
        // Longest connected first: the order the client connected its shares in. IPC$ is the
        // pipe of remote administration (this very enumeration, from another computer), no share.
        std::vector<const CONNECTION_INFO_1*> rows;
        for (DWORD i = 0; i < read; ++i)
            if (entries[i].coni1_netname && entries[i].coni1_netname[0]
                && lowerAscii(wideToUtf8(entries[i].coni1_netname, nameLimit)) != "ipc$")
                rows.push_back(&entries[i]);
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto* a, const auto* b) { return a->coni1_time > b->coni1_time; });
        for (NetSessionInfo& s : sessions) {
            if (s.computer != session.computer)
                continue;
            for (const auto* row : rows) {
                const std::string user =
                    row->coni1_username ? wideToUtf8(row->coni1_username, nameLimit) : std::string();
                const std::string share = wideToUtf8(row->coni1_netname, nameLimit);
                if (lowerAscii(user) == lowerAscii(s.user)
                    && std::find(s.details.shares.begin(), s.details.shares.end(), share) == s.details.shares.end())
                    s.details.shares.push_back(share);
            }
        }
    }
}

NetStatus NetApiManagement::enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out)
{
    out.clear();
    const auto wideUser = utf8ToWide(user);
    if (!wideUser)
        return conversionFailed();
    return listFiles(server, wideUser->c_str(), out);
}

NetStatus NetApiManagement::enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out)
{
    out.clear();
    return listFiles(server, nullptr, out);
}

NetStatus NetApiManagement::listFiles(const ServerName& server, LPCWSTR user, std::vector<NetFileInfo>& out)
{
    const ServerArgument srv = serverArgument(server);
    if (!srv.ok)
        return conversionFailed();
    NetBuffer buffer(m_calls.bufferFree);
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS code = m_calls.fileEnum(const_cast<LPWSTR>(srv.get()), nullptr, const_cast<LPWSTR>(user), 3,
                                                 buffer.out(), MAX_PREFERRED_LENGTH, &read, &total, nullptr);
    if (!enumerationSucceeded(code))
        return status(code);
    if (const auto* entries = buffer.as<FILE_INFO_3>()) {
        out.reserve(read);
        for (DWORD i = 0; i < read; ++i) {
            // Level 3 does not say which computer holds the file.
            out.push_back({static_cast<uint32_t>(entries[i].fi3_id),
                           wideToUtf8(entries[i].fi3_pathname, nameLimit),
                           {},
                           wideToUtf8(entries[i].fi3_username, nameLimit),
                           {}});
        }
    }
    return NetStatus::success();
}

NetStatus NetApiManagement::deleteSession(const ServerName& server, const std::string& computer,
                                          const std::string& user)
{
    const ServerArgument srv = serverArgument(server);
    const auto wideComputer = utf8ToWide(computer);
    const auto wideUser = utf8ToWide(user);
    if (!srv.ok || !wideComputer || !wideUser)
        return conversionFailed();
    const std::wstring client = L"\\\\" + *wideComputer;
    return status(m_calls.sessionDel(const_cast<LPWSTR>(srv.get()), const_cast<LPWSTR>(client.c_str()),
                                     const_cast<LPWSTR>(wideUser->c_str())));
}

NetStatus NetApiManagement::enumUsers(std::vector<std::string>& out)
{
    out.clear();
    NetBuffer buffer(m_calls.bufferFree);
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS code =
        m_calls.userEnum(nullptr, 0, 0, buffer.out(), MAX_PREFERRED_LENGTH, &read, &total, nullptr);
    if (!enumerationSucceeded(code))
        return status(code);
    if (const auto* entries = buffer.as<USER_INFO_0>()) {
        out.reserve(read);
        for (DWORD i = 0; i < read; ++i)
            out.push_back(wideToUtf8(entries[i].usri0_name, nameLimit));
    }
    return NetStatus::success();
}

NetStatus NetApiManagement::closeFile(const ServerName& server, uint32_t fileId)
{
    const ServerArgument srv = serverArgument(server);
    if (!srv.ok)
        return conversionFailed();
    return status(m_calls.fileClose(const_cast<LPWSTR>(srv.get()), fileId));
}

}  // namespace vantor::windows

namespace vantor {

std::unique_ptr<NetManagement> createPlatformNetManagement(const PlatformNetOptions&)
{
    return std::make_unique<windows::NetApiManagement>();
}

}  // namespace vantor
