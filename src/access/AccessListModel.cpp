#include "access/AccessListModel.h"

// The resources of a static library are not linked in unless someone asks for them.
static void initAccessResources()
{
    Q_INIT_RESOURCE(access);
}

namespace vantor {

namespace {

QIcon accessIcon(const char* name)
{
    initAccessResources();
    return QIcon(QStringLiteral(":/access/icons/") + QString::fromLatin1(name) + QStringLiteral(".svg"));
}

}  // namespace

AccessListModel::AccessListModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_rowIcon(accessIcon("user"))
    , m_userIcon(m_rowIcon)
    , m_computerIcon(accessIcon("computer"))
{
}

int AccessListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AccessListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant AccessListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const AccessRow& row = m_rows.rows()[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(index.column() == 0 ? row.user : row.computer);
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_rowIcon) : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant AccessListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section > 1)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return section == 0 ? QStringLiteral("User") : QStringLiteral("Computer");
    case Qt::DecorationRole:
        return section == 0 ? m_userIcon : m_computerIcon;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignCenter);
    default:
        return {};
    }
}

void AccessListModel::setRows(const AccessListRows& rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void AccessListModel::addAtTop(const std::string& user, const std::string& computer)
{
    beginInsertRows({}, 0, 0);
    m_rows.addAtTop(user, computer);
    endInsertRows();
}

void AccessListModel::remove(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    m_rows.remove(row);
    endRemoveRows();
}

void AccessListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

}  // namespace vantor
