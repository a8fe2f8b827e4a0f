#include "history/HistorySessionRows.h"

#include "base/TimeText.h"

#include <algorithm>

namespace vantor {

void HistorySessionRows::setHistory(HistoryPtr history)
{
    m_history = std::move(history);
    m_rows.clear();
    if (!m_history)
        return;
    const auto& sessions = m_history->sessions();
    LocalTimeCache local;
    m_rows.reserve(sessions.size());
    for (std::size_t i = sessions.size(); i-- > 0;) {
        const SessionRecord& s = sessions[i];
        m_rows.push_back({i, std::to_string(s.fileCount), local.format(s.start), formatDuration(s.duration)});
    }
}

const std::string& HistorySessionRows::text(const Row& row, int column) const
{
    const SessionRecord& s = m_history->sessions()[row.session];
    switch (column) {
    case User:
        return s.user;
    case Computer:
        return s.computer;
    case TotalFiles:
        return row.files;
    case Timestamp:
        return row.timestamp;
    default:
        return row.duration;
    }
}

const std::string& HistorySessionRows::cellText(std::size_t row, int column) const
{
    return text(m_rows.at(row), column);
}

void HistorySessionRows::sortDescending(int column)
{
    if (column < 0 || column >= ColumnCount || !m_history)
        return;
    // std::string compares its bytes as unsigned characters.
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [&](const Row& a, const Row& b) { return text(b, column) < text(a, column); });
}

std::vector<HistoryFileRow> historyFileRows(const HistoryData& history, const SessionRecord& session)
{
    std::vector<HistoryFileRow> rows;
    LocalTimeCache local;
    for (std::size_t f : history.filesInWindow(session.user, session.computer, session.start, session.end()))
        rows.push_back({f, local.format(history.files()[f].time)});
    return rows;
}

}  // namespace vantor
