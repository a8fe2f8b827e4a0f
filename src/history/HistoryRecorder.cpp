#include "history/HistoryRecorder.h"

#include "history/HistoryLog.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace vantor {

namespace {

using PairKey = std::pair<std::string, std::string>;

bool equalNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

uint32_t durationBetween(int64_t start, int64_t end)
{
    if (end <= start)
        return 0;
    return static_cast<uint32_t>(std::min<int64_t>(end - start, UINT32_MAX));
}

}  // namespace

HistoryRecorder::HistoryRecorder(NetManagement& net, const MonitorSettings& settings, std::filesystem::path dataDir)
    : m_net(net), m_settings(settings), m_dataDir(std::move(dataDir))
{
}

void HistoryRecorder::endSession(const OpenSession& s, int64_t end, std::string& usersLines) const
{
    std::ostringstream line;
    writeSessionLine(line, s.start, s.user, s.computer, durationBetween(s.start, end));
    usersLines += line.str();
}

void HistoryRecorder::sessionsPolled(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept)
{
    record(now, server, kept, flagsOf(m_settings));
}

void HistoryRecorder::record(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept, Flags flags)
{
    now = std::max(now, m_lastNow);
    m_lastNow = now;
    std::string usersLines;
    std::string filesLines;

    // Sessions of another server are out of sight from now on: they end where they were last seen.
    if (m_server && *m_server != server) {
        for (const auto& s : m_open)
            endSession(s, s.lastSeen, usersLines);
        m_open.clear();
    }
    m_server = server;

    std::map<PairKey, std::size_t> wanted;
    for (const auto& e : kept)
        ++wanted[{e.user, e.computer}];

    std::map<PairKey, std::size_t> stillOpen;
    std::vector<OpenSession> open;
    open.reserve(m_open.size() + kept.size());
    for (auto& s : m_open) {
        PairKey key{s.user, s.computer};
        auto w = wanted.find(key);
        std::size_t& have = stillOpen[key];
        if (w != wanted.end() && have < w->second) {
            ++have;
            s.lastSeen = now;
            open.push_back(std::move(s));
        } else {
            endSession(s, s.lastSeen, usersLines);
        }
    }
    for (const auto& e : kept) {
        PairKey key{e.user, e.computer};
        std::size_t& have = stillOpen[key];
        if (have < wanted[key]) {
            ++have;
            open.push_back({e.user, e.computer, now, now, {}});
        }
    }
    m_open = std::move(open);

    if (flags.noHistory == 0 && flags.logOpenedFiles != 0)
        recordFiles(now, server, kept, filesLines);
    write(usersLines, filesLines, flags);
}

std::map<std::string, std::vector<NetFileInfo>> HistoryRecorder::filesOf(const ServerName& server,
                                                                         const std::vector<std::string>& users)
{
    std::map<std::string, std::vector<NetFileInfo>> byUser;
    std::vector<NetFileInfo> all;
    const NetStatus st = m_net.enumAllFiles(server, all);
    if (st.ok()) {
        // The service matches a user name without regard to case: so does the grouping.
        for (const auto& file : all) {
            for (const auto& user : users)
                if (equalNoCase(user, file.user))
                    byUser[user].push_back(file);
        }
        for (const auto& user : users)
            byUser.try_emplace(user);
        return byUser;
    }
    if (st.code != netcode::NotSupported)
        return byUser;  // seen again at the next poll
    for (const auto& user : users) {
        std::vector<NetFileInfo> files;
        if (m_net.enumFiles(server, user, files).ok())
            byUser.emplace(user, std::move(files));
    }
    return byUser;
}

void HistoryRecorder::recordFiles(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept,
                                  std::string& filesLines)
{
    std::vector<std::string> users;
    for (const auto& e : kept)
        if (e.openFiles > 0 && std::find(users.begin(), users.end(), e.user) == users.end())
            users.push_back(e.user);

    const auto byUser = filesOf(server, users);
    for (const auto& user : users) {
        const auto listed = byUser.find(user);
        if (listed == byUser.end())
            continue;  // seen again at the next poll
        const std::vector<NetFileInfo>& files = listed->second;

        // The user's computers: those whose sessions report open files, and all of them.
        std::vector<std::string> holding, any;
        for (const auto& e : kept) {
            if (e.user != user)
                continue;
            if (std::find(any.begin(), any.end(), e.computer) == any.end())
                any.push_back(e.computer);
            if (e.openFiles > 0 && std::find(holding.begin(), holding.end(), e.computer) == holding.end())
                holding.push_back(e.computer);
        }

        for (const auto& file : files) {
            std::vector<std::string> computers;
            const auto atComputer = [&](const SessionEntry& e) { return e.computer == file.computer; };
            if (std::find(any.begin(), any.end(), file.computer) != any.end())
                computers.push_back(file.computer);
            else if (!file.computer.empty() && std::any_of(kept.begin(), kept.end(), atComputer))
                continue;  // a session of a user whose name differs only in case: its own enumeration
            else
                computers = holding.empty() ? any : holding;
            for (const auto& computer : computers) {
                std::vector<OpenSession*> sessions;
                bool logged = false;
                for (auto& s : m_open)
                    if (s.user == user && s.computer == computer) {
                        sessions.push_back(&s);
                        logged = logged || s.loggedPaths.count(file.path) > 0;
                    }
                if (sessions.empty() || logged)
                    continue;
                std::ostringstream line;
                writeFileLine(line, now, user, computer, file.path);
                filesLines += line.str();
                for (auto* s : sessions)
                    s->loggedPaths.insert(file.path);
            }
        }
    }
}

void HistoryRecorder::finish(int64_t now)
{
    now = std::max(now, m_lastNow);
    std::string usersLines;
    for (const auto& s : m_open)
        endSession(s, std::max(now, s.lastSeen), usersLines);
    m_open.clear();
    write(usersLines, {}, flagsOf(m_settings));
}

void HistoryRecorder::write(const std::string& usersLines, const std::string& filesLines, const Flags& flags) const
{
    if (flags.noHistory != 0)
        return;
    if (!filesLines.empty())
        appendToLog(m_dataDir, filesLogName, filesLines);
    if (!usersLines.empty())
        appendToLog(m_dataDir, usersLogName, usersLines);
    if (!filesLines.empty() || !usersLines.empty())
        ++m_writes;
}

}  // namespace vantor
