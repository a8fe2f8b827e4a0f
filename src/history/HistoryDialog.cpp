#include "history/HistoryDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantor {

namespace {

int g_sortColumn = -1;

const QColor listBackground(207, 231, 255);

void setUpList(QTableView* view, const char* name)
{
    view->setObjectName(QString::fromLatin1(name));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideRight);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    view->horizontalHeader()->setSortIndicatorShown(false);
    view->setIconSize(QSize(16, 16));
    QPalette p = view->palette();
    p.setColor(QPalette::Base, listBackground);
    p.setColor(QPalette::AlternateBase, listBackground);
    view->setPalette(p);
}

template <std::size_t N> void setWidths(QTableView* view, const std::array<int, N>& widths)
{
    for (std::size_t c = 0; c < N; ++c)
        view->setColumnWidth(static_cast<int>(c), widths[c]);
}

}  // namespace

int historySortColumn()
{
    return g_sortColumn;
}

HistoryDialog::HistoryDialog(Context context, QWidget* parent)
    : HistoryDialog(std::make_unique<LocalHistorySource>(context.dataDir, context.clock, context.settings),
                    context.boxes, parent)
{
}

HistoryDialog::HistoryDialog(std::unique_ptr<HistorySource> source, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent)
    , m_source(std::move(source))
    , m_boxes(boxes)
{
    setWindowTitle(QStringLiteral("Sessions History"));
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);

    m_sessions = new QTableView(this);
    m_files = new QTableView(this);
    setUpList(m_sessions, "sessionsList");
    setUpList(m_files, "fileList");
    m_sessionsModel = new HistorySessionsModel(this);
    m_filesModel = new HistoryFilesModel(this);
    m_sessions->setModel(m_sessionsModel);
    m_files->setModel(m_filesModel);
    m_sessions->horizontalHeader()->setSectionsClickable(true);
    m_files->horizontalHeader()->setSectionsClickable(false);

    m_reportButton = new QToolButton(this);
    m_reportButton->setObjectName(QStringLiteral("reportButton"));
    m_reportButton->setIcon(historyIcon("report.svg", 32));
    m_reportButton->setIconSize(QSize(32, 32));
    m_reportButton->setToolTip(QString::fromLatin1(reportTooltip));
    m_reportButton->setAutoRaise(true);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setDefault(true);

    // The window's proportions: 430 x 273 dialog units of an 8-point font, the two lists one above
    // the other, "OK" in the middle and the report button in the corner below them.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addStretch(1);
    buttons->addWidget(m_reportButton, 0, Qt::AlignRight | Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 6);
    layout->setSpacing(8);
    layout->addWidget(m_sessions, 112);
    layout->addWidget(m_files, 115);
    layout->addLayout(buttons);
    setFixedSize(645, 444);

    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_reportButton, &QToolButton::clicked, this, [this] { generateReport(); });
    connect(m_sessions, &QTableView::clicked, this, [this] { showSessionFiles(); });
    connect(m_sessions->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { showSessionFiles(); });
    connect(m_sessions->horizontalHeader(), &QHeaderView::sectionClicked, this, &HistoryDialog::sortByColumn);
    m_sessions->viewport()->installEventFilter(this);

    setWidths(m_sessions, HistorySessionsModel::columnWidths);
    setWidths(m_files, HistoryFilesModel::columnWidths);
    m_ok->setFocus();

    // The logs can be large: they are read beside the GUI thread, and the lists filled (and the
    // report button let go) when they come.
    m_reportButton->setEnabled(false);
    QPointer<HistoryDialog> self(this);
    m_source->load([self](HistoryPtr history, std::string failure) {
        if (!self)
            return;
        if (!history) {
            self->m_boxes.show({"Error", failure, BoxIcon::Error, BoxButtons::Ok, self.data()});
            return;
        }
        self->showLoaded(history);
    });
}

void HistoryDialog::showLoaded(const HistoryPtr& history)
{
    m_sessionsModel->setHistory(history);
    m_filesModel->showSession(m_sessionsModel->history(), nullptr);
    m_reportButton->setEnabled(true);
    m_loaded = true;
    emit loaded();
}

void HistoryDialog::showSessionFiles()
{
    const QModelIndexList rows = m_sessions->selectionModel()->selectedRows();
    const SessionRecord* session = rows.isEmpty() ? nullptr : m_sessionsModel->sessionAt(rows.first().row());
    m_filesModel->showSession(m_sessionsModel->history(), session);
}

void HistoryDialog::sortByColumn(int column)
{
    g_sortColumn = column;
    m_sessionsModel->sortDescending(column);
}

bool HistoryDialog::eventFilter(QObject* watched, QEvent* event)
{
    // A press below the rows leaves no session selected, and so no files shown.
    if (watched == m_sessions->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (!m_sessions->indexAt(press->position().toPoint()).isValid()) {
            m_sessions->clearSelection();
            m_sessions->setCurrentIndex({});
            showSessionFiles();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void HistoryDialog::generateReport()
{
    m_reportButton->setEnabled(false);
    QPointer<HistoryDialog> self(this);
    m_source->writeReport(m_sessionsModel->history(), reportPathName, [self](const HistorySource::Report& report) {
        if (!self)
            return;
        self->m_reportButton->setEnabled(true);
        self->m_boxes.show(report.box(self.data()));
        emit self->reportWritten(report.written, QString::fromStdString(report.where));
    });
}

}  // namespace vantor
