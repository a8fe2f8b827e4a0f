#include "history/HistoryRecorder.h"

#include "history/HistoryLog.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <fstream>
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

// The kept state is rewritten at least this often while nothing else changes, so that a session
// that ends during a crash ends in the history at most this long before it really did.
constexpr int64_t stateRefreshSeconds = 60;
// What a disk that stays full may hold back of each log before the oldest lines are given up.
constexpr std::size_t maxPendingBytes = std::size_t{8} << 20;

uint32_t durationBetween(int64_t start, int64_t end)
{
    if (end <= start)
        return 0;
    return static_cast<uint32_t>(std::min<int64_t>(end - start, UINT32_MAX));
}

}  // namespace

HistoryRecorder::HistoryRecorder(NetManagement& net, const MonitorSettings& settings, std::filesystem::path dataDir)
    : m_net(net)
    , m_settings(settings)
    , m_dataDir(std::move(dataDir))
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
    if (m_server != server)
        m_stateChanged = true;
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
            m_stateChanged = true;
        }
    }
    m_open = std::move(open);
    if (!usersLines.empty())
        m_stateChanged = true;

    if (flags.noHistory == 0 && flags.logOpenedFiles != 0)
        recordFiles(now, server, kept, filesLines);
    if (!filesLines.empty())
        m_stateChanged = true;
    write(usersLines, filesLines, flags);
    if (m_stateFile
        && (m_stateChanged || !m_stateSavedAt || now - *m_stateSavedAt >= stateRefreshSeconds || now < *m_stateSavedAt))
        writeState(now);
}

HistoryRecorder::Restored HistoryRecorder::restore(int64_t now, int64_t gap)
{
    Restored restored;
    if (!m_stateFile)
        return restored;
    std::ifstream in(*m_stateFile, std::ios::binary);
    if (!in)
        return restored;  // a first start, or a stop that kept nothing
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SessionStateParse parsed = parseSessionState(text);
    if (!parsed.state) {
        restored.error = m_stateFile->string() + ": " + parsed.error + "; the sessions start afresh";
        return restored;
    }
    SessionState& state = *parsed.state;
    m_lastNow = std::max(m_lastNow, state.saved);
    if (now - state.saved > gap || now < state.saved) {
        // Too long away to tell whether a session of the same user and computer is the one seen
        // then: those end where they were last seen, and what is there now begins now.
        std::string usersLines;
        for (const auto& s : state.sessions)
            endSession(s, s.lastSeen, usersLines);
        write(usersLines, {}, flagsOf(m_settings));
        m_stateChanged = true;
        return restored;
    }
    m_server = state.server;
    m_open = std::move(state.sessions);
    for (const auto& s : m_open)
        restored.sessions.emplace_back(s.user, s.computer);
    m_stateSavedAt = state.saved;
    return restored;
}

void HistoryRecorder::saveState(int64_t now)
{
    write({}, {}, flagsOf(m_settings));
    if (m_stateFile)
        writeState(std::max(now, m_lastNow));
}

void HistoryRecorder::writeState(int64_t now)
{
    SessionState state;
    state.saved = now;
    state.server = m_server;
    state.sessions = m_open;
    const auto error = writeFileAtomically(*m_stateFile, formatSessionState(state));
    noteWrite(error);
    if (!error) {
        m_stateChanged = false;
        m_stateSavedAt = now;
    }
}

void HistoryRecorder::noteWrite(const std::optional<std::string>& error)
{
    if (error) {
        const bool first = !m_writeFailing;
        m_writeFailing = true;
        if (onWriteFailed)
            onWriteFailed(*error, first);
    } else if (m_writeFailing && m_pendingFiles.empty() && m_pendingUsers.empty()) {
        m_writeFailing = false;
        if (onWriteRecovered)
            onWriteRecovered();
    }
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
    if (m_stateFile)
        writeState(now);
}

void HistoryRecorder::write(const std::string& usersLines, const std::string& filesLines, const Flags& flags)
{
    // Lines held back by a failed write were recorded while history was on: they go out whatever
    // the options say now.
    if (flags.noHistory == 0) {
        m_pendingFiles += filesLines;
        m_pendingUsers += usersLines;
    }
    std::optional<std::string> error;
    bool wrote = false;
    for (auto [pending, name] : {std::pair{&m_pendingFiles, filesLogName}, std::pair{&m_pendingUsers, usersLogName}}) {
        if (pending->empty())
            continue;
        std::string why;
        if (appendToLog(m_dataDir, name, *pending, &why)) {
            pending->clear();
            wrote = true;
            continue;
        }
        if (pending->size() > maxPendingBytes) {
            // Whole lines from the front: the oldest go, the log keeps its order.
            const std::size_t cut = pending->find('\n', pending->size() - maxPendingBytes);
            pending->erase(0, cut == std::string::npos ? pending->size() : cut + 1);
            why += "; the oldest lines waiting for " + std::string(name) + " were given up";
        }
        if (!error)
            error = why;
    }
    if (wrote)
        ++m_writes;
    if (error || wrote)
        noteWrite(error);
}

}  // namespace vantor
