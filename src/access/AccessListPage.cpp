#include "access/AccessListPage.h"

#include "access/AccessListModel.h"
#include "access/AddUserDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace vantor {

AccessListPage::AccessListPage(const AccessListRows& rows, NetManagement* accounts, QWidget* parent)
    : QFrame(parent)
    , m_accounts(accounts)
    , m_model(new AccessListModel(this))
    , m_table(new QTableView(this))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    m_table->setObjectName(QStringLiteral("listTable"));
    m_table->setModel(m_model);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setDefaultSectionSize(100);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setIconSize(QSize(16, 16));

    auto* add = new QPushButton(QStringLiteral("Add user"), this);
    auto* remove = new QPushButton(QStringLiteral("Remove user"), this);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    add->setObjectName(QStringLiteral("addUser"));
    remove->setObjectName(QStringLiteral("removeUser"));
    clear->setObjectName(QStringLiteral("clear"));
    for (QPushButton* b : {add, remove, clear})
        b->setAutoDefault(false);  // Enter belongs to the Options window's OK
    connect(add, &QPushButton::clicked, this, &AccessListPage::addUser);
    connect(remove, &QPushButton::clicked, this, &AccessListPage::removeUser);
    connect(clear, &QPushButton::clicked, this, &AccessListPage::clearUsers);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(clear);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    m_model->setRows(rows);
}

int AccessListPage::rowCount() const
{
    return m_model->rowCount();
}

void AccessListPage::addUser()
{
    AddUserDialog dialog(m_accounts, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_model->addAtTop(dialog.user(), dialog.computer());
}

void AccessListPage::removeUser()
{
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    m_model->remove(selected.first().row());
}

void AccessListPage::clearUsers()
{
    m_model->clear();
}

}  // namespace vantor
