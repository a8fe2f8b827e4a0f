#pragma once
// The rows of the history window's sessions list over one load of the history, without a window:
// the last line of users.log first, each row with the texts its cells show and the session it
// stands for, so that a selected row finds its files by the session itself (its timestamp text
// is the same for two moments in the hour that repeats when daylight saving time ends).

#include "history/HistoryReader.h"

#include <array>
#include <string>
#include <vector>

namespace vantor {

class HistorySessionRows {
public:
    enum Column { User, Computer, TotalFiles, Timestamp, SessionTime, ColumnCount };

    void setHistory(HistoryPtr history);
    const HistoryPtr& history() const { return m_history; }
    std::size_t size() const { return m_rows.size(); }

    const std::string& cellText(std::size_t row, int column) const;
    // The position of the row's session in the session store.
    std::size_t sessionIndex(std::size_t row) const { return m_rows.at(row).session; }
    const SessionRecord& session(std::size_t row) const { return m_history->sessions()[sessionIndex(row)]; }

    // Descending by the column's text compared byte by byte; rows of equal text keep their order.
    void sortDescending(int column);

    static constexpr std::array<int, ColumnCount> columnWidths = {110, 110, 100, 200, 100};

private:
    struct Row {
        std::size_t session;
        std::string files, timestamp, duration;
    };
    const std::string& text(const Row& row, int column) const;

    HistoryPtr m_history;
    std::vector<Row> m_rows;
};

// The file lines of a session, in file-store order, with the timestamp text each shows.
struct HistoryFileRow {
    std::size_t file;
    std::string timestamp;
};
std::vector<HistoryFileRow> historyFileRows(const HistoryData& history, const SessionRecord& session);

}  // namespace vantor
