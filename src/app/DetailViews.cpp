#include "app/DetailViews.h"

#include "ui/TableColumns.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

namespace vantor {

namespace {

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QTableView* makeList(QWidget* parent)
{
    auto* t = new QTableView(parent);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    t->setShowGrid(false);
    t->setWordWrap(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// Each window keeps its place and size in the layout file.
void restoreGeometryOf(QWidget* window, const QString& key, QSize size)
{
    if (!window->restoreGeometry(layoutSettings().value(key + QStringLiteral("/geometry")).toByteArray()))
        window->resize(size);
}

void saveGeometryOf(const QWidget* window, const QString& key)
{
    layoutSettings().setValue(key + QStringLiteral("/geometry"), window->saveGeometry());
}

const QString openFilesKey = QStringLiteral("openFiles");
const QString sharesKey = QStringLiteral("shares");

}  // namespace

// --- the open files of every user ------------------------------------------------------------------

void OpenFilesListModel::setFiles(std::vector<NetFileInfo> files)
{
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
}

int OpenFilesListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_files.size());
}

int OpenFilesListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : openFileColumnCount;
}

QVariant OpenFilesListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const NetFileInfo& f = m_files[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<OpenFileColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return fromUtf8(openFileText(f, column));
    case Qt::ToolTipRole:
        return fromUtf8(f.path);
    case Qt::UserRole:
        // What sorting compares: the moment and the count as numbers, the rest as text.
        if (column == OpenFileColumn::OpenedAt)
            return QVariant::fromValue(f.details.openedAt.value_or(-1));
        if (column == OpenFileColumn::Locks)
            return QVariant::fromValue(static_cast<qint64>(f.details.locks.value_or(0)));
        return fromUtf8(openFileText(f, column)).toLower();
    }
    return {};
}

QVariant OpenFilesListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= openFileColumnCount)
        return {};
    return QString::fromLatin1(openFileTitle(static_cast<OpenFileColumn>(section)));
}

void OpenFilesFilter::setFilterText(const QString& text)
{
    m_filter = text.trimmed().toStdString();
    invalidateFilter();
}

bool OpenFilesFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    auto* model = static_cast<OpenFilesListModel*>(sourceModel());
    return openFileMatches(model->file(sourceRow), m_filter);
}

bool OpenFilesFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QVariant a = left.data(Qt::UserRole);
    const QVariant b = right.data(Qt::UserRole);
    return QVariant::compare(a, b) == QPartialOrdering::Less;
}

OpenFilesWindow::OpenFilesWindow(std::function<void(const NetFileInfo&)> closeFile, QWidget* parent)
    : QDialog(parent)
    , m_closeFile(std::move(closeFile))
{
    setWindowTitle(QStringLiteral("Open files"));
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Filter by file, share, user or computer"));
    m_filter->setClearButtonEnabled(true);
    m_table = makeList(this);
    m_model = new OpenFilesListModel(this);
    m_proxy = new OpenFilesFilter(this);
    m_proxy->setSourceModel(m_model);
    m_table->setModel(m_proxy);
    m_table->setColumnWidth(static_cast<int>(OpenFileColumn::File), 220);
    m_columns = new TableColumns(m_table, openFilesKey, {static_cast<int>(OpenFileColumn::File)}, {});
    m_close = new QPushButton(QStringLiteral("Close resource"), this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_filter);
    layout->addWidget(m_table, 1);
    layout->addLayout(bottom);

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_proxy->setFilterText(text);
        updateStatus();
    });
    connect(m_close, &QPushButton::clicked, this, &OpenFilesWindow::closeSelected);
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("Close resource"), this, &OpenFilesWindow::closeSelected);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, [this, menu](const QPoint& pos) {
        const QModelIndex under = m_table->indexAt(pos);
        if (under.isValid())
            m_table->selectRow(under.row());
        menu->popup(m_table->viewport()->mapToGlobal(pos));
    });
    restoreGeometryOf(this, openFilesKey, QSize(760, 360));
}

void OpenFilesWindow::setSnapshot(const SessionsSnapshot& snapshot)
{
    // The selection follows the file, not the row index: a poll must not move it to another file.
    std::optional<std::pair<uint32_t, std::string>> selected;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (!rows.isEmpty()) {
        const NetFileInfo& f = m_model->file(m_proxy->mapToSource(rows.first()).row());
        selected.emplace(f.id, f.path);
    }
    m_listed = snapshot.openFilesListed;
    m_error = fromUtf8(snapshot.openFilesError);
    m_model->setFiles(snapshot.openFiles);
    if (selected) {
        for (int r = 0; r < m_model->rowCount(); ++r) {
            const NetFileInfo& f = m_model->file(r);
            if (f.id == selected->first && f.path == selected->second) {
                const QModelIndex at = m_proxy->mapFromSource(m_model->index(r, 0));
                if (at.isValid())
                    m_table->selectRow(at.row());
                break;
            }
        }
    }
    updateStatus();
}

void OpenFilesWindow::updateStatus()
{
    m_status->setText(
        fromUtf8(openFilesStatus(m_listed, m_error.toStdString(), static_cast<std::size_t>(m_proxy->rowCount()),
                                 static_cast<std::size_t>(m_model->rowCount()))));
}

void OpenFilesWindow::closeSelected()
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    // An empty file tells the close that nothing is selected: it answers as the main window does.
    m_closeFile(rows.isEmpty() ? NetFileInfo{} : m_model->file(m_proxy->mapToSource(rows.first()).row()));
}

void OpenFilesWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    emit shownChanged(true);
}

void OpenFilesWindow::hideEvent(QHideEvent* event)
{
    saveGeometryOf(this, openFilesKey);
    QDialog::hideEvent(event);
    emit shownChanged(false);
}

// --- shares ------------------------------------------------------------------------------------------

void SharesModel::setShares(std::vector<ShareUse> shares)
{
    beginResetModel();
    m_shares = std::move(shares);
    endResetModel();
}

int SharesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shares.size());
}

int SharesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SharesModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)
        || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    if (index.column() >= ColumnCount)
        return {};
    const ShareUse& s = m_shares[static_cast<std::size_t>(index.row())];
    return fromUtf8(
        shareText(s, static_cast<vantor::ShareColumn>(index.column()), role == Qt::ToolTipRole ? "\n" : ", "));
}

QVariant SharesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromLatin1(shareTitle(static_cast<vantor::ShareColumn>(section)));
}

SharesWindow::SharesWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Shares"));
    m_table = makeList(this);
    m_model = new SharesModel(this);
    auto* proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(m_model);
    m_table->setModel(proxy);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(SharesModel::ShareColumn, Qt::AscendingOrder);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    restoreGeometryOf(this, sharesKey, QSize(600, 260));
}

void SharesWindow::setSnapshot(const SessionsSnapshot& snapshot)
{
    m_model->setShares(shareUses(snapshot.rows, snapshot.openFiles, snapshot.shares));
}

void SharesWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    emit shownChanged(true);
}

void SharesWindow::hideEvent(QHideEvent* event)
{
    saveGeometryOf(this, sharesKey);
    QDialog::hideEvent(event);
    emit shownChanged(false);
}

}  // namespace vantor
