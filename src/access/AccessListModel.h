#pragma once
// The table of a list page: the rows of one list file, columns "User" and "Computer".

#include "access/AccessListRows.h"

#include <QAbstractTableModel>
#include <QIcon>

namespace vantor {

class AccessListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit AccessListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setRows(const AccessListRows& rows);
    void addAtTop(const std::string& user, const std::string& computer);
    void remove(int row);
    void clear();
    const AccessListRows& rows() const { return m_rows; }

private:
    AccessListRows m_rows;
    QIcon m_rowIcon;
    QIcon m_userIcon;
    QIcon m_computerIcon;
};

}  // namespace vantor
