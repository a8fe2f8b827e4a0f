#pragma once
// The "Black list" and "White list" pages of the Options window: one list file as a table that
// the user adds to, removes from and clears. The file is read when the page is made; the Options
// window writes the rows back on every OK.

#include <QFrame>

#include <filesystem>

class QTableView;

namespace vantor {

class AccessListModel;
class NetManagement;

class AccessListPage final : public QFrame {
    Q_OBJECT
public:
    AccessListPage(std::filesystem::path file, NetManagement& net, QWidget* parent = nullptr);

    int rowCount() const;

    AccessListModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }

    void addUser();
    void removeUser();
    void clearUsers();

private:
    std::filesystem::path m_file;
    NetManagement& m_net;
    AccessListModel* m_model;
    QTableView* m_table;
};

}  // namespace vantor
