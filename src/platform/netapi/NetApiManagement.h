#pragma once
// The network-management service on Windows: NetApi32. Every name crosses the UTF-16 boundary
// here, into UTF-8 and cut at 255 bytes; a server is passed in its UNC form "\\name".

#include "platform/NetManagement.h"

#include <windows.h>
#include <lm.h>

namespace vantor::windows {

// The NetApi32 functions the backend calls. Tests put recording stand-ins here: Wine's NetApi32
// lists no sessions, does not support NetFileEnum and aborts the process in NetSessionDel and
// NetConnectionEnum.
struct NetApiCalls {
    decltype(&::NetSessionEnum) sessionEnum = &::NetSessionEnum;
    decltype(&::NetConnectionEnum) connectionEnum = &::NetConnectionEnum;
    decltype(&::NetFileEnum) fileEnum = &::NetFileEnum;
    decltype(&::NetSessionDel) sessionDel = &::NetSessionDel;
    decltype(&::NetUserEnum) userEnum = &::NetUserEnum;
    decltype(&::NetFileClose) fileClose = &::NetFileClose;
    decltype(&::NetApiBufferFree) bufferFree = &::NetApiBufferFree;
};

class NetApiManagement final : public NetManagement {
public:
    explicit NetApiManagement(NetApiCalls calls = {})
        : m_calls(calls)
    {
    }

    NetStatus enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out) override;
    NetStatus enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out) override;
    NetStatus deleteSession(const ServerName& server, const std::string& computer, const std::string& user) override;
    NetStatus enumUsers(std::vector<std::string>& out) override;
    NetStatus closeFile(const ServerName& server, uint32_t fileId) override;
    // NetFileEnum without a user: every open file with its user, in one call.
    NetStatus enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out) override;

    // A status code with the system's text for it (netmsg.dll for the NERR codes).
    static NetStatus status(NET_API_STATUS code);

private:
    // The shares each session uses, from NetConnectionEnum by client computer; left empty where
    // the service does not tell.
    void addShares(LPCWSTR server, std::vector<NetSessionInfo>& sessions);
    // NetFileEnum at level 3 for `user` (null: every user).
    NetStatus listFiles(const ServerName& server, LPCWSTR user, std::vector<NetFileInfo>& out);

    NetApiCalls m_calls;
};

}  // namespace vantor::windows
