#include "history/HistoryModels.h"

#include "base/TimeText.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>

static void initHistoryResources()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(history);
        done = true;
    }
}

namespace vantor {

namespace {

QString qtext(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr int headerPicture = 13;
constexpr int rowPicture = 16;

}  // namespace

QIcon historyIcon(const char* name, int size)
{
    initHistoryResources();
    QSvgRenderer renderer(QStringLiteral(":/history/") + QString::fromLatin1(name));
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    return QIcon(pixmap);
}

// --- sessions ------------------------------------------------------------------------------------

HistorySessionsModel::HistorySessionsModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_rowIcon(historyIcon("session.svg", rowPicture))
    , m_headerIcons{historyIcon("user.svg", headerPicture), historyIcon("computer.svg", headerPicture), QIcon(),
                    historyIcon("timestamp.svg", headerPicture), historyIcon("duration.svg", headerPicture)}
{
}

void HistorySessionsModel::setHistory(HistoryPtr history)
{
    beginResetModel();
    m_rows.setHistory(std::move(history));
    endResetModel();
}

int HistorySessionsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int HistorySessionsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const std::string& HistorySessionsModel::cellText(int row, int column) const
{
    return m_rows.cellText(static_cast<std::size_t>(row), column);
}

QVariant HistorySessionsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return qtext(cellText(index.row(), index.column()));
    case Qt::DecorationRole:
        return index.column() == User ? QVariant(m_rowIcon) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() <= Computer ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant HistorySessionsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[] = {"User", "Computer", "# Total open files", "Timestamp", "Session time"};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLatin1(titles[section]);
    case Qt::DecorationRole:
        return m_headerIcons[static_cast<std::size_t>(section)].isNull()
                   ? QVariant()
                   : QVariant(m_headerIcons[static_cast<std::size_t>(section)]);
    case Qt::TextAlignmentRole:
        return section <= Computer ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    default:
        return {};
    }
}

void HistorySessionsModel::sortDescending(int column)
{
    if (column < 0 || column >= ColumnCount || !m_rows.history())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> oldSession;
    for (const auto& index : before)
        oldSession.push_back(m_rows.sessionIndex(static_cast<std::size_t>(index.row())));

    m_rows.sortDescending(column);

    std::vector<int> rowOfSession(m_rows.history()->sessions().size());
    for (std::size_t r = 0; r < m_rows.size(); ++r)
        rowOfSession[m_rows.sessionIndex(r)] = static_cast<int>(r);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(index(rowOfSession[oldSession[static_cast<std::size_t>(i)]], before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const SessionRecord* HistorySessionsModel::sessionAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &m_rows.session(static_cast<std::size_t>(row));
}

// --- files ---------------------------------------------------------------------------------------

HistoryFilesModel::HistoryFilesModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_headerIcons{historyIcon("timestamp.svg", headerPicture), historyIcon("resource.svg", headerPicture)}
{
}

void HistoryFilesModel::showSession(const HistoryPtr& history, const SessionRecord* session)
{
    beginResetModel();
    m_history = history;
    m_files.clear();
    m_stamps.clear();
    if (history && session)
        for (HistoryFileRow& row : historyFileRows(*history, *session)) {
            m_files.push_back(row.file);
            m_stamps.push_back(std::move(row.timestamp));
        }
    endResetModel();
}

int HistoryFilesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_files.size());
}

int HistoryFilesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryFilesModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == Timestamp ? qtext(m_stamps[row]) : qtext(m_history->files()[m_files[row]].path);
    case Qt::TextAlignmentRole:
        return index.column() == Timestamp ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant HistoryFilesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return section == Timestamp ? QStringLiteral("Timestamp") : QStringLiteral("Resource name");
    case Qt::DecorationRole:
        return m_headerIcons[static_cast<std::size_t>(section)];
    case Qt::TextAlignmentRole:
        return section == Timestamp ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

}  // namespace vantor
