#pragma once
// The history's lookups done the plain way, every session against every file line: the reference
// the indexed reader must agree with, in the tests and in the bench.

#include "history/HistoryLog.h"

#include <vector>

namespace vantor::test {

inline uint32_t literalCount(const std::vector<FileRecord>& files, const std::string& user, const std::string& computer,
                             int64_t from, int64_t to)
{
    uint32_t n = 0;
    for (const auto& f : files)
        if (f.user == user && f.computer == computer && from <= f.time && f.time <= to)
            ++n;
    return n;
}

inline bool literalCovers(const std::vector<SessionRecord>& sessions, const std::string& user,
                          const std::string& computer, int64_t fileTime, int64_t start)
{
    for (const auto& s : sessions)
        if (s.user == user && s.computer == computer && s.start == start && start <= fileTime
            && fileTime <= start + int64_t{s.duration})
            return true;
    return false;
}

// The file counts of every session, as the literal load computes them.
inline std::vector<uint32_t> literalCounts(const std::vector<SessionRecord>& sessions,
                                           const std::vector<FileRecord>& files)
{
    std::vector<uint32_t> counts;
    counts.reserve(sessions.size());
    for (const auto& s : sessions)
        counts.push_back(literalCount(files, s.user, s.computer, s.start, s.end()));
    return counts;
}

}  // namespace vantor::test
