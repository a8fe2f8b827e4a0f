#pragma once
// The "Black list" and "White list" pages of the Options window: one list's rows as a table that
// the user adds to, removes from and clears. The Options window hands the rows back on every OK.

#include <QFrame>

class QTableView;

namespace vantor {

class AccessListModel;
class AccessListRows;
class NetManagement;

class AccessListPage final : public QFrame {
    Q_OBJECT
public:
    // `accounts`: what "Add user" offers besides "<Any>"; null: nothing more.
    AccessListPage(const AccessListRows& rows, NetManagement* accounts, QWidget* parent = nullptr);

    int rowCount() const;

    AccessListModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }

    void addUser();
    void removeUser();
    void clearUsers();

private:
    NetManagement* m_accounts;
    AccessListModel* m_model;
    QTableView* m_table;
};

}  // namespace vantor
