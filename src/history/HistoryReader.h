#pragma once
// The history as read from both logs: the session store and the file store, and the lookups that tie
// files to sessions. A session's files are the file lines of the same user and computer (exact,
// case-sensitive) whose time lies within start .. start + duration, both ends included; a file line
// counts for every session whose window covers it.
//
// A load is immutable once made and shared by whoever uses it (the history window keeps the one it
// showed; the report writes from the one its caller made). Loads are serialised through HistoryStore.

#include "history/HistoryLog.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantor {

class HistoryData {
public:
    // Reads files.log, then users.log, of `dataDir`. A missing log gives no records of its kind.
    static HistoryData load(const std::filesystem::path& dataDir);
    // The same from texts (the whole content of each log).
    static HistoryData fromText(std::string_view filesLog, std::string_view usersLog);

    // In the order of the logs' lines.
    const std::vector<SessionRecord>& sessions() const { return m_sessions; }
    const std::vector<FileRecord>& files() const { return m_files; }

    // File lines of that user and computer whose time t satisfies from <= t <= to.
    uint32_t countFilesInSession(std::string_view user, std::string_view computer, int64_t from,
                                 int64_t to) const;
    // Whether a session of that user and computer starting at `start` covers `fileTime`.
    bool sessionCoversFile(std::string_view user, std::string_view computer, int64_t fileTime,
                           int64_t start) const;
    // Positions in the file store of the file lines that countFilesInSession counts, in store order.
    std::vector<std::size_t> filesInWindow(std::string_view user, std::string_view computer, int64_t from,
                                           int64_t to) const;

    // The files of one user and computer sorted by time (ties in store order), for writers that
    // walk every session's files: a session's files are one contiguous run of its pair's list.
    struct Pair {
        std::string user;
        std::string computer;
        std::vector<uint32_t> files;  // positions in the file store, by (time, position)
        std::vector<int32_t> times;   // the times of `files`, for searching
        // Sessions of the pair by start; each start with the latest end of the sessions sharing it.
        std::vector<std::pair<int32_t, int64_t>> starts;
    };
    const std::vector<Pair>& pairs() const { return m_pairs; }
    // The pair of a session (its index in pairs()); every session has one.
    uint32_t sessionPair(std::size_t session) const { return m_sessionPair[session]; }
    // The run of pairs()[sessionPair(s)].files within [from, to].
    std::pair<std::size_t, std::size_t> fileRun(uint32_t pair, int64_t from, int64_t to) const;

private:
    void addFile(FileRecord file);
    void indexFiles();
    void addSession(SessionRecord session);
    void indexSessions();
    const Pair* findPair(std::string_view user, std::string_view computer) const;
    uint32_t pairId(std::string_view user, std::string_view computer);

    std::vector<SessionRecord> m_sessions;
    std::vector<FileRecord> m_files;
    std::vector<Pair> m_pairs;
    std::vector<uint32_t> m_sessionPair;
    std::unordered_map<std::string, uint32_t> m_pairIds;
    uint32_t m_lastPair = UINT32_MAX;
};

using HistoryPtr = std::shared_ptr<const HistoryData>;

// The process-wide gate of the history: no two loads at once, and a load and the use of its result
// (a report written from it) together, whether on the GUI thread or the console agent's thread.
class HistoryStore {
public:
    static HistoryStore& instance();

    // Loads the logs afresh and runs fn(const HistoryPtr&) over the result, all under the gate.
    template <class Fn>
    decltype(auto) withLoaded(const std::filesystem::path& dataDir, Fn&& fn)
    {
        std::lock_guard lock(m_mutex);
        HistoryPtr data = std::make_shared<const HistoryData>(HistoryData::load(dataDir));
        return std::forward<Fn>(fn)(data);
    }

    // Runs fn() under the gate: a use of a load made earlier (the history window's report button).
    template <class Fn>
    decltype(auto) serialised(Fn&& fn)
    {
        std::lock_guard lock(m_mutex);
        return std::forward<Fn>(fn)();
    }

private:
    std::mutex m_mutex;
};

// One load under the gate, handed back for the caller to keep (the history window).
HistoryPtr loadHistory(const std::filesystem::path& dataDir);

}  // namespace vantor
