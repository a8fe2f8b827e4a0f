#pragma once
// The two tables of the main window as models over the monitor's rows. A poll replaces every row,
// so each model is reset as a whole: one reset of 10,000 rows is cheaper than 10,000 inserts.

#include "monitor/DetailsText.h"
#include "monitor/SessionTypes.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

#include <functional>

namespace vantor {

class SessionsTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // The three columns of the table, then one per SessionDetailColumn.
    enum Column {
        UserColumn,
        ComputerColumn,
        OpenFilesColumn,
        FirstDetailColumn,
        ColumnCount = FirstDetailColumn + sessionDetailColumnCount
    };

    explicit SessionsTableModel(QObject* parent = nullptr);

    // Takes the rows as the monitor has them, top row first; `now` is when the connected times end.
    void setRows(const std::vector<SessionEntry>& rows, int64_t now = 0);
    void setIcons(QIcon rowIcon, QIcon userHeader, QIcon computerHeader);

    // A person may sort by any column; the monitor's rows keep their order (the selection follows
    // their index), so the model maps between its rows and the monitor's. Column -1: the monitor's
    // order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    int monitorRow(int modelRow) const;
    int modelRow(int monitorRow) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString text(const SessionEntry& row, int column) const;
    void applySort();

    std::vector<SessionEntry> m_rows;
    QVector<int> m_order;  // model row -> monitor row
    QVector<int> m_inverse;  // monitor row -> model row
    int64_t m_now = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QIcon m_rowIcon;
    QIcon m_userHeader;
    QIcon m_computerHeader;
};

class OpenFilesTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Chooses the icon of a file row: folder, its type's icon, or the default file icon.
    using IconChooser = std::function<QIcon(const OpenFileRow&)>;

    explicit OpenFilesTableModel(IconChooser chooser, QObject* parent = nullptr);

    void setRows(const std::vector<OpenFileRow>& rows);
    void setHeaderIcon(QIcon icon) { m_headerIcon = std::move(icon); }
    // The icon of the row's image, for tests and for the view.
    QIcon rowIcon(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    IconChooser m_chooser;
    QVector<QString> m_paths;
    QVector<uint32_t> m_ids;
    // One icon per file in enumeration order, as the rows' images: row r shows m_images[imageIndex].
    QVector<QIcon> m_images;
    QVector<int> m_imageIndex;
    QIcon m_headerIcon;
};

}  // namespace vantor
