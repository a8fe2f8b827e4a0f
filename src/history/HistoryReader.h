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
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor {

class HistoryData {
public:
    // Reads files.log, then users.log, of `dataDir`. A missing log gives no records of its kind.
    static HistoryData load(const std::filesystem::path& dataDir);
    // The same from the two logs' contents as streams (the logs of a service, handed over).
    static HistoryData load(std::istream& filesLog, std::istream& usersLog);
    // The same from texts (the whole content of each log).
    static HistoryData fromText(std::string_view filesLog, std::string_view usersLog);

    // In the order of the logs' lines.
    const std::vector<SessionRecord>& sessions() const { return m_sessions; }
    const std::vector<FileRecord>& files() const { return m_files; }

    // File lines of that user and computer whose time t satisfies from <= t <= to.
    uint32_t countFilesInSession(std::string_view user, std::string_view computer, int64_t from, int64_t to) const;
    // Whether a session of that user and computer starting at `start` covers `fileTime`.
    bool sessionCoversFile(std::string_view user, std::string_view computer, int64_t fileTime, int64_t start) const;
    // Positions in the file store of the file lines that countFilesInSession counts, in store order.
    std::vector<std::size_t> filesInWindow(std::string_view user, std::string_view computer, int64_t from,
                                           int64_t to) const;

    // One user and computer. Its files, sorted by time (ties in store order), and its sessions'
    // starts are runs of shared arrays: a session's files are one contiguous run of its pair's list.
    struct Pair {
        std::string user;
        std::string computer;
        uint32_t filesBegin = 0, filesEnd = 0;
        uint32_t startsBegin = 0, startsEnd = 0;
    };
    const std::vector<Pair>& pairs() const { return m_pairs; }
    // Positions in the file store of the pair's files, by (time, position).
    std::span<const uint32_t> pairFiles(uint32_t pair) const;
    // The pair's session starts in ascending order, each with the latest end of the sessions
    // sharing it.
    std::span<const std::pair<int32_t, int64_t>> pairStarts(uint32_t pair) const;
    // The pair of a session (its index in pairs()); every session has one.
    uint32_t sessionPair(std::size_t session) const { return m_sessionPair[session]; }
    // The run of pairFiles(pair) whose times lie within [from, to].
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
    std::vector<uint32_t> m_filePair;  // while loading: the pair of each file line
    std::vector<uint32_t> m_pairFiles;
    std::vector<int32_t> m_pairTimes;  // the times of m_pairFiles, for searching
    std::vector<std::pair<int32_t, int64_t>> m_pairStarts;
    std::vector<uint32_t> m_sessionPair;
    // A pair is looked up for every file line, a million of them: names are numbered first (few, so
    // their table stays in the cache), and the pair is found by the two numbers in one probe.
    // Open addressing, at most half full; an empty slot holds UINT32_MAX.
    struct Slot {
        uint64_t key = 0;  // the hash of a name, or (user number << 32 | computer number)
        uint32_t id = UINT32_MAX;
    };
    std::optional<uint32_t> findName(std::string_view name, uint64_t hash) const;
    uint32_t nameNumber(std::string_view name);
    std::optional<uint32_t> findPairId(uint64_t key) const;

    std::vector<std::string> m_names;
    std::vector<Slot> m_nameSlots;
    std::vector<Slot> m_pairSlots;
    uint32_t m_lastPair = UINT32_MAX;
};

using HistoryPtr = std::shared_ptr<const HistoryData>;

// The process-wide gate of the history: no two loads at once, and a load and the use of its result
// (a report written from it) together, whether on the GUI thread or the console agent's thread.
class HistoryStore {
public:
    static HistoryStore& instance();

    // Loads the logs afresh and runs fn(const HistoryPtr&) over the result, all under the gate.
    template <class Fn> decltype(auto) withLoaded(const std::filesystem::path& dataDir, Fn&& fn)
    {
        std::lock_guard lock(m_mutex);
        HistoryPtr data = std::make_shared<const HistoryData>(HistoryData::load(dataDir));
        return std::forward<Fn>(fn)(data);
    }

    // Runs fn() under the gate: a use of a load made earlier (the history window's report button).
    template <class Fn> decltype(auto) serialised(Fn&& fn)
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
