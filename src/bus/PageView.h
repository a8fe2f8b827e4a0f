#pragma once
// What a web page reads over the bus, as data. A browser cannot take the logs' file descriptors
// that GetHistory hands over, so the service filters, sorts and cuts the history's sessions into
// pages, and hands out one session's files. And Cockpit's bridge turns every field of a reply into
// JSON on its own, which takes it a second for 10,000 sessions: the table also comes as one JSON
// text, made here in a few milliseconds.

#include "history/HistoryReader.h"
#include "monitor/SessionTypes.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor::bus {

struct HistoryQuery {
    // Kept when the user or the computer holds it, in any case of ASCII letters; empty keeps all.
    std::string text;
    // Kept when the session began within from .. to, both ends included.
    std::optional<int64_t> from, to;
    enum class Column { User, Computer, Files, Start, Duration };
    // None: the history window's order, the newest line of users.log first.
    std::optional<Column> sort;
    bool descending = true;
};

// The query from the names and values a caller sends ("text", "from", "to", "sort" one of user,
// computer, files, start, duration, "order" asc or desc); the problem's text when one is wrong.
std::optional<std::string> readHistoryQuery(const std::vector<std::pair<std::string, std::string>>& values,
                                            HistoryQuery& query);

// The positions in data.sessions() of the sessions the query keeps, in its order.
std::vector<std::size_t> historySessions(const HistoryData& data, const HistoryQuery& query);

// The file lines of one session, as the history window lists them (file-store order).
std::vector<std::size_t> historySessionFiles(const HistoryData& data, std::string_view user, std::string_view computer,
                                             int64_t start, uint32_t duration);

// The sessions table as GetSessions sends it, as JSON: {"rows": [[user, computer, open files,
// [connected, idle, [shares], dialect, encryption, signing, pid, uid]], ...], "current": n,
// "files": n}; an unknown number is null, a byte that is not UTF-8 becomes U+FFFD.
std::string sessionsJson(const SessionsSnapshot& snapshot);

// The sessions table's last few states, each under a version of its own, so that a page holding one
// of them fetches only what changed since: at 10,000 sessions a change is a few rows, the table a
// megabyte and a half of JSON. Versions are "RUN-N": RUN differs at every start of the service, so
// that a version of an earlier run is never taken for one of this.
class SessionsJournal {
public:
    explicit SessionsJournal(std::size_t keep = 4);

    struct Entry {
        std::string version;
        SessionsSnapshotPtr snapshot;
    };
    // `snapshot` as the newest state, under a new version.
    const Entry& record(SessionsSnapshotPtr snapshot);
    // The newest state; none before the first record.
    const Entry* newest() const;
    // The state of that version while it is kept.
    const Entry* find(std::string_view version) const;

private:
    std::size_t m_keep;
    std::string m_run;
    uint64_t m_count = 0;
    std::deque<Entry> m_entries;  // oldest first
};

// What changed from `base` to `now`, as JSON. With a base: {"version": v, "full": false, "changed":
// [rows that came or changed, as sessionsJson writes them], "removed": [[user, computer], ...],
// "current": n, "files": n}. Without one (the page has none, or one no longer kept), or when a
// user and computer stand on more than one row (their rows could not be told apart): {"version":
// v, "full": true, "rows": [every row], "current": n, "files": n}.
std::string sessionsChangeJson(const SessionsSnapshot* base, const SessionsSnapshot& now, const std::string& version);

// A text as a bus string must be: bytes that are not UTF-8 become U+FFFD.
std::string validUtf8(std::string_view text);

// The last load of a data folder's logs, loaded again only when a log changed (its size or time):
// a browser turning pages must not read a million lines for each.
class HistoryCache {
public:
    HistoryPtr get(const std::filesystem::path& dataDir);

private:
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type time{};
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const std::filesystem::path& file);

    std::mutex m_mutex;
    std::filesystem::path m_dir;
    Stamp m_users, m_files;
    HistoryPtr m_data;
};

}  // namespace vantor::bus
