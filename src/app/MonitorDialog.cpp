#include "app/MonitorDialog.h"

#include "app/DetailViews.h"
#include "app/Desktop.h"
#include "app/TableModels.h"
#include "history/HistoryLog.h"
#include "ui/ActivityIndicator.h"
#include "ui/SplitterBar.h"
#include "ui/TableColumns.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QThread>
#include <QResizeEvent>
#include <QSettings>
#include <QWindow>

namespace vantor {

namespace {

const QColor tableColour(207, 231, 255);
const QColor noUsersColour(50, 0, 225);

// The window's first design, and its smallest size: a compact monitor. A larger window gives the
// extra width to the tables and the extra height to both tables alike.
constexpr int windowWidth = 480;
constexpr int windowHeight = 392;
constexpr int dragEdge = 30;
constexpr int splitterMaxUp = 100;
constexpr int splitterMaxDown = 50;

const QRect sessionsRect(10, 40, 460, 140);
const QRect splitterRect(10, 180, 460, 6);
const QRect filesRect(10, 186, 460, 164);

// The history window works on an engine of this process; the service's history is reached through
// its files for now.
QTableView* makeTable(QWidget* parent, const QString& tooltip)
{
    auto* view = new QTableView(parent);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideMiddle);
    view->setIconSize(QSize(16, 16));
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(20);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setSectionsClickable(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->setToolTip(tooltip);
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, tableColour);
    pal.setColor(QPalette::AlternateBase, tableColour);
    view->setPalette(pal);
    return view;
}

QPushButton* makeIconButton(QWidget* parent, const QString& icon, const QString& tooltip, const QRect& rect)
{
    auto* b = new QPushButton(parent);
    b->setIcon(programIcon(icon));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(tooltip);
    b->setAutoDefault(false);
    b->setFlat(true);
    b->setGeometry(rect);
    return b;
}

// The menus open with their right edge at the pointer, as they always have.
void popupAt(QMenu* menu, const QPoint& global)
{
    menu->popup(global - QPoint(menu->sizeHint().width(), 0));
}

QAction* addCommand(QMenu* menu, const QString& text, int command, const QString& icon = {})
{
    QAction* a = menu->addAction(text);
    a->setData(command);
    if (!icon.isEmpty())
        a->setIcon(programIcon(icon));
    return a;
}

}  // namespace

MonitorDialog::MonitorDialog(MonitorFace& face, Options options, QWidget* parent)
    : QDialog(parent)
    , m_options(std::move(options))
    , m_face(face)
{
    initResources();
    if (!m_options.openUrl)
        m_options.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!m_options.beep)
        m_options.beep = [] { QApplication::beep(); };
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Vantor") + m_options.titleSuffix);
    setWindowIcon(programIcon(QStringLiteral("vantor")));

    m_face.setListener(this);

    buildWindow();
    buildMenus();
    buildTray();
    if (m_options.rememberLayout)
        restoreLayout();

    m_slide = new SlideAway(this);
    m_flashTimer.setInterval(m_options.flashIntervalMs);
    connect(&m_flashTimer, &QTimer::timeout, this, &MonitorDialog::flashTick);
}

MonitorDialog::~MonitorDialog()
{
    m_face.stop();
    m_face.setListener(nullptr);
    m_face.waitForWorker();
}

void MonitorDialog::pollApplied()
{
    // The tick's label update belongs after its poll, which ends here when it ran elsewhere; a face
    // without a timer of its own (the service's) has no ticks, and every poll is news.
    if (m_tickPoll || !m_face.pollTimerActive())
        updateNoUsersLabel();
    m_tickPoll = false;
    emit pollFinished();
}

void MonitorDialog::buildWindow()
{
    setMinimumSize(windowWidth, windowHeight);
    resize(windowWidth, windowHeight);

    m_activity = new ActivityIndicator(this);
    m_activity->setGeometry(180, 14, 16, 16);
    m_caption = new QLabel(QString::fromStdString(m_face.captionText()), this);
    m_caption->setGeometry(201, 12, 236, 20);
    m_helpButton = makeIconButton(this, QStringLiteral("help"), QStringLiteral("Help"), QRect(444, 8, 26, 26));
    connect(m_helpButton, &QPushButton::clicked, this, &MonitorDialog::openHelp);

    m_sessionsView = makeTable(this, QStringLiteral("Current sessions. Right click mouse to open context menu"));
    m_sessionsView->setGeometry(sessionsRect);
    m_sessionsModel = new SessionsTableModel(this);
    m_sessionsModel->setIcons(programIcon(QStringLiteral("user")), programIcon(QStringLiteral("header-user")),
                              programIcon(QStringLiteral("header-computer")));
    m_sessionsView->setModel(m_sessionsModel);
    m_sessionsView->setColumnWidth(SessionsTableModel::UserColumn, 150);
    m_sessionsView->setColumnWidth(SessionsTableModel::ComputerColumn, 150);
    m_sessionsView->setColumnWidth(SessionsTableModel::OpenFilesColumn, 100);
    // User, computer and open files always show; of the details, the ids are for the few who ask.
    m_sessionColumns = new TableColumns(
        m_sessionsView, QStringLiteral("sessions"),
        {SessionsTableModel::UserColumn, SessionsTableModel::ComputerColumn, SessionsTableModel::OpenFilesColumn},
        {SessionsTableModel::FirstDetailColumn + static_cast<int>(SessionDetailColumn::ProcessId),
         SessionsTableModel::FirstDetailColumn + static_cast<int>(SessionDetailColumn::Uid)});

    m_noUsers = new QLabel(QString::fromLatin1(noActiveUsersText), this);
    m_noUsers->setAlignment(Qt::AlignCenter);
    m_noUsers->setGeometry(sessionsRect.x() + 120, sessionsRect.y() + 34, 220, 18);
    QPalette pal = m_noUsers->palette();
    pal.setColor(QPalette::WindowText, noUsersColour);
    pal.setColor(QPalette::Window, tableColour);
    m_noUsers->setPalette(pal);
    m_noUsers->setAutoFillBackground(true);
    m_noUsers->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_noUsers->hide();

    m_splitter = new SplitterBar(splitterMaxUp, splitterMaxDown, this);
    m_splitter->setHome(splitterRect);
    connect(m_splitter, &SplitterBar::moved, this, &MonitorDialog::splitterMoved);

    m_filesView = makeTable(this, QStringLiteral("Opened files list. Right click mouse to open context menu"));
    m_filesView->setGeometry(filesRect);
    m_filesModel = new OpenFilesTableModel(&fileRowIcon, this);
    m_filesModel->setHeaderIcon(programIcon(QStringLiteral("header-files")));
    m_filesView->setModel(m_filesModel);
    m_filesView->setColumnWidth(0, 450);

    m_hideButton = new QPushButton(programIcon(QStringLiteral("hide")), QStringLiteral("Hide"), this);
    m_hideButton->setToolTip(QStringLiteral("Hide the dialog"));
    m_hideButton->setGeometry(205, 357, 70, 26);
    m_hideButton->setDefault(true);
    connect(m_hideButton, &QPushButton::clicked, this, &MonitorDialog::startHide);
    m_remoteButton = makeIconButton(this, QStringLiteral("remote"), QStringLiteral("Connect to a remote server..."),
                                    QRect(414, 357, 26, 26));
    connect(m_remoteButton, &QPushButton::clicked, this, &MonitorDialog::remoteServerCommand);
    m_historyButton = makeIconButton(this, QStringLiteral("history"), QStringLiteral("Show sessions history"),
                                     QRect(444, 357, 26, 26));
    connect(m_historyButton, &QPushButton::clicked, this, [this] { showHistory(true); });
    m_openFilesButton = makeIconButton(this, QStringLiteral("file"), QStringLiteral("Show every user's open files"),
                                       QRect(354, 357, 26, 26));
    connect(m_openFilesButton, &QPushButton::clicked, this, [this] { runCommand(OpenFilesWindowCommand); });
    m_sharesButton = makeIconButton(this, QStringLiteral("folder"), QStringLiteral("Show the shares in use"),
                                    QRect(384, 357, 26, 26));
    connect(m_sharesButton, &QPushButton::clicked, this, [this] { runCommand(SharesWindowCommand); });

    // The keyboard moves the selection without asking the service; a click asks at once.
    connect(m_sessionsView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_syncingSelection)
            return;
        const QModelIndexList rows = m_sessionsView->selectionModel()->selectedRows();
        m_face.selectSessionRow(rows.isEmpty() ? std::nullopt
                                               : std::optional<int>(m_sessionsModel->monitorRow(rows.first().row())));
    });
    connect(m_sessionsView, &QTableView::clicked, this, [this](const QModelIndex&) { m_face.refreshOpenFiles(); });
    connect(m_filesView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_syncingSelection)
            return;
        const QModelIndexList rows = m_filesView->selectionModel()->selectedRows();
        m_face.selectFileRow(rows.isEmpty() ? std::nullopt : std::optional<int>(rows.first().row()));
    });

    m_hideButton->setFocus();
}

void MonitorDialog::buildMenus()
{
    m_sessionsMenu = new QMenu(this);
    addCommand(m_sessionsMenu, QStringLiteral("Close session"), CloseSessionCommand, QStringLiteral("close-session"));
    addCommand(m_sessionsMenu, QStringLiteral("Close all sessions"), CloseAllSessionsCommand,
               QStringLiteral("close-all"));
    m_sessionsMenu->addSeparator();
    addCommand(m_sessionsMenu, QStringLiteral("Connect to user"), ConnectToUserCommand, QStringLiteral("connect"));
    m_sessionsMenu->addSeparator();
    QMenu* black =
        m_sessionsMenu->addMenu(programIcon(QStringLiteral("blacklist")), QStringLiteral("Add to the Black list"));
    addCommand(black, QStringLiteral("User"), AddBlackUserCommand);
    addCommand(black, QStringLiteral("Computer"), AddBlackComputerCommand);
    addCommand(black, QStringLiteral("Combination of user and computer"), AddBlackBothCommand);
    QMenu* white =
        m_sessionsMenu->addMenu(programIcon(QStringLiteral("whitelist")), QStringLiteral("Add to the White list"));
    addCommand(white, QStringLiteral("User"), AddWhiteUserCommand);
    addCommand(white, QStringLiteral("Computer"), AddWhiteComputerCommand);
    addCommand(white, QStringLiteral("Combination of user and computer"), AddWhiteBothCommand);

    m_filesMenu = new QMenu(this);
    addCommand(m_filesMenu, QStringLiteral("Close resource"), CloseResourceCommand, QStringLiteral("close-resource"));
    m_filesMenu->addSeparator();
    addCommand(m_filesMenu, QStringLiteral("Open folder"), OpenFolderCommand, QStringLiteral("open-folder"));

    m_trayMenu = new QMenu(this);
    QAction* main = addCommand(m_trayMenu, QStringLiteral("Main dialog"), MainDialogCommand);
    QFont bold = main->font();
    bold.setBold(true);
    main->setFont(bold);
    m_trayMenu->setDefaultAction(main);
    addCommand(m_trayMenu, QStringLiteral("Show history"), ShowHistoryCommand, QStringLiteral("show-history"));
    addCommand(m_trayMenu, QStringLiteral("Clear history"), ClearHistoryCommand, QStringLiteral("clear-history"));
    addCommand(m_trayMenu, QStringLiteral("Options..."), OptionsCommand, QStringLiteral("options"));
    m_trayMenu->addSeparator();
    addCommand(m_trayMenu, QStringLiteral("About..."), AboutCommand);
    addCommand(m_trayMenu, QStringLiteral("Exit"), ExitCommand);

    // A poll may rebuild the tables while a context menu is open: its command acts on what the
    // menu was opened on, not on whatever row the selection's index shows by then.
    for (QMenu* menu : {m_sessionsMenu, m_filesMenu})
        connect(menu, &QMenu::triggered, this, [this](QAction* a) {
            if (a->data().isValid())
                runCommand(a->data().toInt(), &m_menuTarget);
        });
    connect(m_trayMenu, &QMenu::triggered, this, [this](QAction* a) {
        if (a->data().isValid())
            runCommand(a->data().toInt());
    });

    connect(m_sessionsView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        openContextMenu(m_sessionsMenu, m_sessionsView, pos, m_sessionsView->viewport()->mapToGlobal(pos));
    });
    connect(m_filesView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        openContextMenu(m_filesMenu, m_filesView, pos, m_filesView->viewport()->mapToGlobal(pos));
    });
}

void MonitorDialog::openContextMenu(QMenu* menu, QTableView* table, const QPoint& pos, const QPoint& global)
{
    if (table) {
        // A right click selects the row under it, in either table.
        const QModelIndex under = table->indexAt(pos);
        if (under.isValid())
            table->selectRow(under.row());
    }
    m_menuTarget = m_face.menuTarget();
    popupAt(menu, global);
}

void MonitorDialog::buildTray()
{
    m_trayNormal = programIcon(QStringLiteral("tray"));
    m_trayUser = programIcon(QStringLiteral("tray-user"));
    m_tray = new QSystemTrayIcon(m_trayNormal, this);
    m_tray->setToolTip(QStringLiteral("Vantor"));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            showFromTray();
    });
}

void MonitorDialog::start()
{
    m_tray->show();
    m_face.start();
    m_activity->setRunning(m_options.animations);
    m_hideButton->setFocus();
}

// --- the monitor's view --------------------------------------------------------------------------

void MonitorDialog::sessionsTableChanged()
{
    m_syncingSelection = true;
    m_sessionsModel->setRows(m_face.sessionRows(), m_face.now());
    if (auto row = m_face.selectedSessionRow())
        m_sessionsView->selectRow(m_sessionsModel->modelRow(*row));
    m_syncingSelection = false;
    showSnapshot();
}

void MonitorDialog::showSnapshot()
{
    const SessionsSnapshotPtr snap = m_face.snapshot();
    if (m_tray)
        m_tray->setToolTip(QStringLiteral("Vantor: ") + QString::fromStdString(countsText(*snap)));
    if (m_openFilesWindow && m_openFilesWindow->isVisible())
        m_openFilesWindow->setSnapshot(*snap);
    if (m_sharesWindow && m_sharesWindow->isVisible())
        m_sharesWindow->setSnapshot(*snap);
}

void MonitorDialog::updateAllFilesListing()
{
    // Listing every user's files may cost the service a second call per poll: only while a window
    // shows them.
    const bool wanted =
        (m_openFilesWindow && m_openFilesWindow->isVisible()) || (m_sharesWindow && m_sharesWindow->isVisible());
    if (wanted == m_face.listAllFiles())
        return;
    m_face.setListAllFiles(wanted);
    if (wanted)
        m_face.poll();
}

void MonitorDialog::openFilesTableChanged()
{
    m_syncingSelection = true;
    m_filesModel->setRows(m_face.openFileRows());
    if (auto row = m_face.selectedFileRow())
        m_filesView->selectRow(*row);
    m_syncingSelection = false;
    m_filesView->viewport()->update();
}

void MonitorDialog::captionChanged()
{
    const QString text = QString::fromStdString(m_face.captionText());
    m_caption->setText(m_caption->fontMetrics().elidedText(text, Qt::ElideMiddle, m_caption->width()));
    m_caption->setToolTip(text);
}

void MonitorDialog::startFlash()
{
    // QTimer::start on a running timer restarts its period, as a repeated start should.
    if (!m_face.mainVisible())
        m_flashTimer.start();
}

// --- timers --------------------------------------------------------------------------------------

void MonitorDialog::pollTick()
{
    // Dropped while a poll is under way, its error box included: polls never nest.
    if (m_face.poll())
        m_tickPoll = true;
    updateNoUsersLabel();
}

void MonitorDialog::newUserArrived(bool beep, bool popup)
{
    if (beep)
        m_options.beep();
    // Up as "Main dialog" brings it, which stops the flash the event may just have started.
    if (popup)
        showFromTray();
}

void MonitorDialog::flashTick()
{
    m_trayShowsUser = m_flashPhase;
    m_tray->setIcon(m_flashPhase ? m_trayUser : m_trayNormal);
    m_flashPhase = !m_flashPhase;
    updateNoUsersLabel();
}

void MonitorDialog::updateNoUsersLabel()
{
    if (m_sessionsModel->rowCount() == 0) {
        m_noUsers->show();
        m_noUsers->raise();
        m_noUsers->update();
    } else {
        m_noUsers->hide();
    }
}

// --- showing and hiding --------------------------------------------------------------------------

void MonitorDialog::showFromTray()
{
    m_flashTimer.stop();
    m_tray->setIcon(m_trayNormal);
    m_trayShowsUser = false;
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    m_face.setMainVisible(true);
}

void MonitorDialog::startHide()
{
    if (m_slide->active())
        return;
    if (!m_options.animations || !m_options.trayAvailable()) {
        hideToTray();
        return;
    }
    m_slide->start([this] { hideToTray(); });
}

void MonitorDialog::hideToTray()
{
    if (!m_options.trayAvailable()) {
        showMinimized();
        return;
    }
    hide();
    m_face.setMainVisible(false);
}

void MonitorDialog::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    m_slide->stop();
    hideToTray();
}

void MonitorDialog::reject()
{
    // Escape must not close or hide the monitor.
}

bool MonitorDialog::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::HelpContents)) {
            openHelp();
            return true;
        }
    }
    return QDialog::event(event);
}

void MonitorDialog::contextMenuEvent(QContextMenuEvent* event)
{
    // Outside the tables the files menu serves, as it always has.
    openContextMenu(m_filesMenu, nullptr, {}, event->globalPos());
}

void MonitorDialog::mousePressEvent(QMouseEvent* event)
{
    const int y = event->position().toPoint().y();
    if (event->button() == Qt::LeftButton && (y < dragEdge || y > height() - dragEdge)) {
        if (windowHandle() && windowHandle()->startSystemMove())
            return;
        // No window manager move (or a platform without one): move the window ourselves.
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - pos();
        return;
    }
    QDialog::mousePressEvent(event);
}

void MonitorDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void MonitorDialog::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void MonitorDialog::splitterMoved(int)
{
    layoutWidgets();
    if (m_options.rememberLayout)
        layoutSettings().setValue(QStringLiteral("main/splitter"), m_splitter->offset());
}

void MonitorDialog::layoutWidgets()
{
    if (!m_splitter || m_layingOut)
        return;
    m_layingOut = true;
    const int dx = std::max(0, width() - windowWidth);
    const int dy = std::max(0, height() - windowHeight);
    const int upper = dy / 2;
    m_caption->setGeometry(201, 12, 236 + dx, 20);
    m_helpButton->move(444 + dx, 8);
    // The splitter's limits hold around its home, which moves with the window.
    const int offset = m_splitter->offset();
    m_splitter->setHome(splitterRect.adjusted(0, upper, dx, upper));
    m_splitter->moveBy(offset);
    m_layingOut = false;
    m_sessionsView->setGeometry(sessionsRect.adjusted(0, 0, dx, upper + offset));
    m_filesView->setGeometry(filesRect.adjusted(0, upper + offset, dx, dy));
    m_filesView->viewport()->update();
    m_noUsers->move(sessionsRect.x() + 120 + dx / 2, sessionsRect.y() + 34);
    m_hideButton->move(205 + dx / 2, 357 + dy);
    m_openFilesButton->move(354 + dx, 357 + dy);
    m_sharesButton->move(384 + dx, 357 + dy);
    m_remoteButton->move(414 + dx, 357 + dy);
    m_historyButton->move(444 + dx, 357 + dy);
}

void MonitorDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layoutWidgets();
    if (m_options.rememberLayout)
        layoutSettings().setValue(QStringLiteral("main/size"), size());
}

void MonitorDialog::restoreLayout()
{
    QSettings& s = layoutSettings();
    const QSize kept = s.value(QStringLiteral("main/size")).toSize();
    if (kept.isValid())
        resize(kept.expandedTo(minimumSize()));
    bool ok = false;
    const int offset = s.value(QStringLiteral("main/splitter")).toInt(&ok);
    if (ok)
        m_splitter->moveBy(offset - m_splitter->offset());
}

}  // namespace vantor
