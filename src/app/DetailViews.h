#pragma once
// The two windows that show what the sessions table has no room for, both fed from the monitor's
// published snapshot: "Open files" (every user's open files, with a filter that answers "who holds
// budget.ods open?" and "Close resource") and "Shares" (each share, its folder, how many
// connections and from whom).

#include "monitor/DetailsText.h"
#include "monitor/SessionTypes.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QSortFilterProxyModel>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace vantor {

class TableColumns;

class OpenFilesListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setFiles(std::vector<NetFileInfo> files);
    const NetFileInfo& file(int row) const { return m_files[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<NetFileInfo> m_files;
};

// Keeps the files that answer the filter text (openFileMatches) and sorts by any column.
class OpenFilesFilter final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setFilterText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::string m_filter;
};

class OpenFilesWindow final : public QDialog {
    Q_OBJECT
public:
    // `closeFile` closes one file of the list (without waiting for the service).
    explicit OpenFilesWindow(std::function<void(const NetFileInfo&)> closeFile, QWidget* parent = nullptr);

    void setSnapshot(const SessionsSnapshot& snapshot);

    QLineEdit* filterBox() const { return m_filter; }
    QTableView* table() const { return m_table; }
    QPushButton* closeButton() const { return m_close; }
    QLabel* statusLabel() const { return m_status; }
    OpenFilesListModel* model() const { return m_model; }
    OpenFilesFilter* filter() const { return m_proxy; }
    // "Close resource" on the selected file; "Select a file!" comes from the close when none is.
    void closeSelected();

signals:
    void shownChanged(bool shown);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateStatus();

    std::function<void(const NetFileInfo&)> m_closeFile;
    QLineEdit* m_filter;
    QTableView* m_table;
    QPushButton* m_close;
    QLabel* m_status;
    OpenFilesListModel* m_model;
    OpenFilesFilter* m_proxy;
    TableColumns* m_columns;
    bool m_listed = false;
    QString m_error;
};

class SharesModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ShareColumn, PathColumn, ConnectionsColumn, ClientsColumn, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;
    void setShares(std::vector<ShareUse> shares);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<ShareUse> m_shares;
};

class SharesWindow final : public QDialog {
    Q_OBJECT
public:
    explicit SharesWindow(QWidget* parent = nullptr);
    void setSnapshot(const SessionsSnapshot& snapshot);
    SharesModel* model() const { return m_model; }

signals:
    void shownChanged(bool shown);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTableView* m_table;
    SharesModel* m_model;
};

}  // namespace vantor
