#pragma once
// The two tables of the main window as models over the monitor's rows. A poll replaces every row,
// so each model is reset as a whole: one reset of 10,000 rows is cheaper than 10,000 inserts.

#include "monitor/SessionTypes.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

#include <functional>

namespace vantor {

class SessionsTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { UserColumn, ComputerColumn, OpenFilesColumn, ColumnCount };

    explicit SessionsTableModel(QObject* parent = nullptr);

    // Takes the rows as shown, top row first.
    void setRows(const std::vector<SessionEntry>& rows);
    void setIcons(QIcon rowIcon, QIcon userHeader, QIcon computerHeader);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        QString user;
        QString computer;
        QString openFiles;
    };
    QVector<Row> m_rows;
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
