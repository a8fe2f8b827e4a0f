#include "app/TableModels.h"

namespace vantor {

namespace {

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

// --- sessions ------------------------------------------------------------------------------------

SessionsTableModel::SessionsTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void SessionsTableModel::setIcons(QIcon rowIcon, QIcon userHeader, QIcon computerHeader)
{
    m_rowIcon = std::move(rowIcon);
    m_userHeader = std::move(userHeader);
    m_computerHeader = std::move(computerHeader);
}

void SessionsTableModel::setRows(const std::vector<SessionEntry>& rows)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(static_cast<qsizetype>(rows.size()));
    for (const auto& r : rows)
        m_rows.push_back({fromUtf8(r.user), fromUtf8(r.computer), QString::number(r.openFiles)});
    endResetModel();
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
    const Row& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case UserColumn: return row.user;
        case ComputerColumn: return row.computer;
        case OpenFilesColumn: return row.openFiles;
        }
        break;
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
        case UserColumn: return QStringLiteral("User");
        case ComputerColumn: return QStringLiteral("Computer");
        case OpenFilesColumn: return QStringLiteral("# Open files");
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
    : QAbstractTableModel(parent), m_chooser(std::move(chooser))
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
