#include "app/TableModels.h"

namespace vantor {

namespace {

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

// --- sessions ------------------------------------------------------------------------------------

SessionsTableModel::SessionsTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void SessionsTableModel::setIcons(QIcon rowIcon, QIcon userHeader, QIcon computerHeader)
{
    m_rowIcon = std::move(rowIcon);
    m_userHeader = std::move(userHeader);
    m_computerHeader = std::move(computerHeader);
}

void SessionsTableModel::setRows(const std::vector<SessionEntry>& rows, int64_t now)
{
    beginResetModel();
    m_now = now;
    m_rows = rows;
    applySort();
    endResetModel();
}

QString SessionsTableModel::text(const SessionEntry& row, int column) const
{
    switch (column) {
    case UserColumn:
        return fromUtf8(row.user);
    case ComputerColumn:
        return fromUtf8(row.computer);
    case OpenFilesColumn:
        return QString::number(row.openFiles);
    }
    return fromUtf8(
        sessionDetailText(row.details, static_cast<SessionDetailColumn>(column - FirstDetailColumn), m_now));
}

void SessionsTableModel::applySort()
{
    // The order is the core's (sessionRowOrder), the same in every window that shows the table.
    const bool sorted = m_sortColumn >= 0 && m_sortColumn < ColumnCount;
    const std::vector<std::size_t> order =
        sorted ? sessionRowOrder(m_rows, m_sortColumn, m_sortOrder == Qt::DescendingOrder, m_now)
               : std::vector<std::size_t>{};
    m_order.resize(static_cast<qsizetype>(m_rows.size()));
    for (int i = 0; i < m_order.size(); ++i)
        m_order[i] = sorted ? static_cast<int>(order[static_cast<std::size_t>(i)]) : i;
    m_inverse = m_order;
    for (int i = 0; i < m_order.size(); ++i)
        m_inverse[m_order[i]] = i;
}

void SessionsTableModel::sort(int column, Qt::SortOrder order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QVector<int> monitorRows;
    for (const QModelIndex& i : before)
        monitorRows.push_back(monitorRow(i.row()));
    m_sortColumn = column;
    m_sortOrder = order;
    applySort();
    QModelIndexList after;
    for (int k = 0; k < before.size(); ++k)
        after.push_back(index(modelRow(monitorRows[k]), before[k].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int SessionsTableModel::monitorRow(int modelRow) const
{
    return modelRow >= 0 && modelRow < m_order.size() ? m_order[modelRow] : -1;
}

int SessionsTableModel::modelRow(int monitorRow) const
{
    return monitorRow >= 0 && monitorRow < m_inverse.size() ? m_inverse[monitorRow] : -1;
}

int SessionsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SessionsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SessionsTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    // The texts are made for the cells a view asks for, not for every row at each poll: a view
    // shows a few dozen of ten thousand rows.
    const SessionEntry& row = m_rows[static_cast<std::size_t>(m_order[index.row()])];
    switch (role) {
    case Qt::DisplayRole:
        return text(row, index.column());
    case Qt::ToolTipRole:
        return fromUtf8(sessionTooltip(row, m_now));
    case Qt::DecorationRole:
        if (index.column() == UserColumn)
            return m_rowIcon;
        break;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant SessionsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case UserColumn:
            return QStringLiteral("User");
        case ComputerColumn:
            return QStringLiteral("Computer");
        case OpenFilesColumn:
            return QStringLiteral("# Open files");
        default:
            if (section >= FirstDetailColumn && section < ColumnCount)
                return QString::fromLatin1(
                    sessionDetailTitle(static_cast<SessionDetailColumn>(section - FirstDetailColumn)));
        }
    }
    if (role == Qt::DecorationRole) {
        if (section == UserColumn)
            return m_userHeader;
        if (section == ComputerColumn)
            return m_computerHeader;
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

// --- open files ----------------------------------------------------------------------------------

OpenFilesTableModel::OpenFilesTableModel(IconChooser chooser, QObject* parent)
    : QAbstractTableModel(parent)
    , m_chooser(std::move(chooser))
{
}

void OpenFilesTableModel::setRows(const std::vector<OpenFileRow>& rows)
{
    beginResetModel();
    m_paths.clear();
    m_ids.clear();
    m_imageIndex.clear();
    m_images = QVector<QIcon>(static_cast<qsizetype>(rows.size()));
    for (const auto& r : rows) {
        m_paths.push_back(fromUtf8(r.path));
        m_ids.push_back(r.id);
        m_imageIndex.push_back(r.imageIndex);
        if (r.imageIndex >= 0 && r.imageIndex < m_images.size())
            m_images[r.imageIndex] = m_chooser ? m_chooser(r) : QIcon();
    }
    endResetModel();
}

QIcon OpenFilesTableModel::rowIcon(int row) const
{
    if (row < 0 || row >= m_imageIndex.size())
        return {};
    const int image = m_imageIndex[row];
    return image >= 0 && image < m_images.size() ? m_images[image] : QIcon();
}

int OpenFilesTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_paths.size());
}

int OpenFilesTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant OpenFilesTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return m_paths[index.row()];
    case Qt::DecorationRole:
        return rowIcon(index.row());
    case Qt::UserRole:
        return QVariant::fromValue(m_ids[index.row()]);
    }
    return {};
}

QVariant OpenFilesTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section != 0)
        return {};
    if (role == Qt::DisplayRole)
        return QStringLiteral("Files");
    if (role == Qt::DecorationRole)
        return m_headerIcon;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

}  // namespace vantor
