#pragma once
// The two lists of the history window as table models over one load of the history.
//
// The sessions list keeps, with each row, the session it shows (start and duration included), so a
// selected row finds its files by the session itself, not by reading its timestamp text back: that
// text is the same for two moments in the hour that repeats when daylight saving time ends.

#include "history/HistoryReader.h"
#include "history/HistorySessionRows.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <string>
#include <vector>

namespace vantor {

class HistorySessionsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        User = HistorySessionRows::User,
        Computer = HistorySessionRows::Computer,
        TotalFiles = HistorySessionRows::TotalFiles,
        Timestamp = HistorySessionRows::Timestamp,
        SessionTime = HistorySessionRows::SessionTime,
        ColumnCount = HistorySessionRows::ColumnCount
    };

    explicit HistorySessionsModel(QObject* parent = nullptr);

    // Rows in the order of the session store reversed: each was inserted at the top.
    void setHistory(HistoryPtr history);
    const HistoryPtr& history() const { return m_rows.history(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Descending by the column's text compared byte by byte; rows of equal text keep their order.
    void sortDescending(int column);
    // The session of a row, or null.
    const SessionRecord* sessionAt(int row) const;
    // The text a cell shows, as the bytes the sort compares.
    const std::string& cellText(int row, int column) const;

    static constexpr std::array<int, ColumnCount> columnWidths = HistorySessionRows::columnWidths;

private:
    HistorySessionRows m_rows;
    QIcon m_rowIcon;
    std::array<QIcon, ColumnCount> m_headerIcons;
};

class HistoryFilesModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Timestamp, ResourceName, ColumnCount };

    explicit HistoryFilesModel(QObject* parent = nullptr);

    // The files of the session, in file-store order; none for null.
    void showSession(const HistoryPtr& history, const SessionRecord* session);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr std::array<int, ColumnCount> columnWidths = {150, 550};

private:
    HistoryPtr m_history;
    std::vector<std::size_t> m_files;
    std::vector<std::string> m_stamps;
    std::array<QIcon, ColumnCount> m_headerIcons;
};

// A picture of the history's resources drawn at an exact size.
QIcon historyIcon(const char* name, int size);

}  // namespace vantor
