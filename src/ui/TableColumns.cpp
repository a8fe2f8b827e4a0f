#include "ui/TableColumns.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QTableView>

namespace vantor {

QSettings& layoutSettings()
{
    static QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vantor"),
                              QStringLiteral("layout"));
    return settings;
}

TableColumns::TableColumns(QTableView* view, QString key, QSet<int> fixed, QSet<int> hiddenByDefault)
    : QObject(view)
    , m_view(view)
    , m_key(std::move(key))
    , m_fixed(std::move(fixed))
    , m_menu(new QMenu(view))
{
    QHeaderView* header = view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& pos) {
        rebuildMenu();
        m_menu->popup(header->mapToGlobal(pos));
    });
    connect(header, &QHeaderView::sectionClicked, this, &TableColumns::clickTitle);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!m_restoring)
            save();
    });
    m_restoring = true;
    for (int c : hiddenByDefault)
        if (!m_fixed.contains(c))
            view->setColumnHidden(c, true);
    m_restoring = false;
    restore();
    rebuildMenu();
}

void TableColumns::rebuildMenu()
{
    m_menu->clear();
    QAbstractItemModel* model = m_view->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        if (m_fixed.contains(c))
            continue;
        QAction* a = m_menu->addAction(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
        a->setCheckable(true);
        a->setChecked(!m_view->isColumnHidden(c));
        connect(a, &QAction::toggled, this, [this, c](bool on) { setColumnShown(c, on); });
    }
}

void TableColumns::setColumnShown(int column, bool shown)
{
    if (m_fixed.contains(column))
        return;
    m_view->setColumnHidden(column, !shown);
    if (shown && m_view->columnWidth(column) == 0)
        m_view->resizeColumnToContents(column);
    save();
}

void TableColumns::clickTitle(int column)
{
    if (column != m_sortColumn) {
        m_sortColumn = column;
        m_descending = false;
    } else if (!m_descending) {
        m_descending = true;
    } else {
        m_sortColumn = -1;
    }
    QHeaderView* header = m_view->horizontalHeader();
    header->setSortIndicatorShown(m_sortColumn >= 0);
    if (m_sortColumn >= 0)
        header->setSortIndicator(m_sortColumn, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    m_view->model()->sort(m_sortColumn, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TableColumns::restore()
{
    QSettings& s = layoutSettings();
    const bool hiddenKept = s.contains(m_key + QStringLiteral("/hidden"));
    const QStringList hidden = s.value(m_key + QStringLiteral("/hidden")).toString().split(u',', Qt::SkipEmptyParts);
    const QStringList widths = s.value(m_key + QStringLiteral("/widths")).toString().split(u',', Qt::SkipEmptyParts);
    m_restoring = true;
    const int count = m_view->model()->columnCount();
    if (hiddenKept)
        for (int c = 0; c < count; ++c)
            if (!m_fixed.contains(c))
                m_view->setColumnHidden(c, hidden.contains(QString::number(c)));
    // A width the file cannot mean (a damaged or edited file) leaves the column as it was.
    for (int c = 0; c < count && c < widths.size(); ++c) {
        bool ok = false;
        const int w = widths[c].toInt(&ok);
        if (ok && w > 0 && w < 10000)
            m_view->setColumnWidth(c, w);
    }
    m_restoring = false;
}

void TableColumns::save() const
{
    QStringList hidden, widths;
    const int count = m_view->model()->columnCount();
    for (int c = 0; c < count; ++c) {
        if (m_view->isColumnHidden(c))
            hidden << QString::number(c);
        // A hidden column's width reads 0: keep the one it had.
        widths << QString::number(m_view->isColumnHidden(c) ? m_view->horizontalHeader()->defaultSectionSize()
                                                            : m_view->columnWidth(c));
    }
    QSettings& s = layoutSettings();
    s.setValue(m_key + QStringLiteral("/hidden"), hidden.join(u','));
    s.setValue(m_key + QStringLiteral("/widths"), widths.join(u','));
}

}  // namespace vantor
