// The sessions table's detail columns, the "Open files" and "Shares" windows and the tray's counts,
// over the fake service.
#include "MonitorFixture.h"
#include "app/DetailViews.h"
#include "app/LocalMonitorFace.h"
#include "app/MonitorDialog.h"
#include "app/TableModels.h"
#include "ui/SplitterBar.h"
#include "ui/TableColumns.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>

using namespace vantor;
using namespace vantor::test;

namespace {

constexpr int64_t now = 1'800'000'000;

QStringList L(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* i : items)
        out << QString::fromUtf8(i);
    return out;
}

FakeSession session(const std::string& user, const std::string& computer, std::vector<std::string> shares,
                    int64_t connectedAt, std::vector<NetFileInfo> files = {})
{
    FakeSession s{user, computer, std::move(files), std::nullopt, {}};
    s.details.shares = std::move(shares);
    s.details.connectedAt = connectedAt;
    s.details.dialect = "SMB3_11";
    s.details.processId = static_cast<int64_t>(1000 + user.size());
    return s;
}

NetFileInfo file(uint32_t id, const std::string& share, const std::string& inside, bool write)
{
    NetFileInfo f;
    f.id = id;
    f.path = "/srv/" + share + "/" + inside;
    f.details.share = share;
    f.details.relativePath = inside;
    f.details.read = true;
    f.details.write = write;
    f.details.denyMode = write ? "write" : "none";
    return f;
}

struct Harness {
    explicit Harness(bool rememberLayout = false)
    {
        clock.set(now);
        MonitorDialog::Options o;
        o.rememberLayout = rememberLayout;
        o.animations = false;
        o.trayAvailable = [] { return true; };
        face = std::make_unique<LocalMonitorFace>(
            SessionMonitor::Context{net, boxes, clock, dir.path(), &inspector},
            LocalMonitorFace::Options{LocalMonitorFace::PollMode::Background, 3'600'000});
        dialog = std::make_unique<MonitorDialog>(*face, o);
        tester = std::make_unique<QAbstractItemModelTester>(dialog->sessionsModel(),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    bool start()
    {
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            return false;
        QSignalSpy done(dialog.get(), &MonitorDialog::pollFinished);
        dialog->start();
        return done.wait(5000);
    }
    bool tick()
    {
        QSignalSpy done(dialog.get(), &MonitorDialog::pollFinished);
        dialog->pollTick();
        return done.count() > 0 || done.wait(5000);
    }
    QStringList column(QAbstractItemModel* m, int col) const
    {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data().toString();
        return out;
    }
    int detail(SessionDetailColumn c) const { return SessionsTableModel::FirstDetailColumn + static_cast<int>(c); }

    TempDir dir;
    FakeNetManagement net;
    RecordingMessageBoxes boxes;
    ManualClock clock;
    SetFileInspector inspector;
    std::unique_ptr<LocalMonitorFace> face;
    std::unique_ptr<MonitorDialog> dialog;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

}  // namespace

class DetailViewsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void detailColumnsTooltipSortAndRememberedHiding()
    {
        {
            Harness h;
            h.net.setSessions({session("alice", "pc1", {"docs", "media"}, now - 3725),
                               session("bob", "pc2", {"docs"}, now - 60), session("carol", "pc3", {}, now - 7200)});
            QVERIFY(h.start());
            auto* m = h.dialog->sessionsModel();
            // User, computer and open files first and unchanged; the details after them.
            QCOMPARE(h.column(m, 0), L({"carol", "bob", "alice"}));
            QCOMPARE(m->headerData(h.detail(SessionDetailColumn::Shares), Qt::Horizontal, Qt::DisplayRole).toString(),
                     QStringLiteral("Shares"));
            QCOMPARE(h.column(m, h.detail(SessionDetailColumn::Shares)), L({"", "docs", "docs, media"}));
            QCOMPARE(h.column(m, h.detail(SessionDetailColumn::ConnectedTime)),
                     L({"02:00:00", "00:01:00", "01:02:05"}));
            const QString tip = m->index(2, 0).data(Qt::ToolTipRole).toString();
            QVERIFY2(tip.startsWith(QStringLiteral("alice on pc1\n"))
                         && tip.contains(QStringLiteral("\nShares: docs, media"))
                         && tip.contains(QStringLiteral("\nProtocol: SMB3_11"))
                         && !tip.contains(QStringLiteral("Idle time")),
                     qPrintable(tip));
            // Process and uid start hidden; the three columns cannot be hidden.
            QVERIFY(h.dialog->sessionsView()->isColumnHidden(h.detail(SessionDetailColumn::ProcessId)));
            h.dialog->sessionColumns()->setColumnShown(SessionsTableModel::UserColumn, false);
            QVERIFY(!h.dialog->sessionsView()->isColumnHidden(SessionsTableModel::UserColumn));

            // Sorting by the connected time, longest last, then back to the monitor's order.
            const int since = h.detail(SessionDetailColumn::ConnectedTime);
            h.dialog->sessionColumns()->clickTitle(since);
            QCOMPARE(h.column(m, 0), L({"bob", "alice", "carol"}));
            h.dialog->sessionColumns()->clickTitle(since);
            QCOMPARE(h.column(m, 0), L({"carol", "alice", "bob"}));
            // The selection names the session shown, not the row of the monitor at that index.
            h.dialog->sessionsView()->selectRow(2);
            QCOMPARE(h.face->monitor().sessionRows()[*h.face->monitor().selectedSessionRow()].user, std::string("bob"));
            QVERIFY(h.tick());
            QCOMPARE(h.dialog->sessionsView()->selectionModel()->selectedRows().first().row(), 2);
            h.dialog->sessionColumns()->clickTitle(since);
            QCOMPARE(h.column(m, 0), L({"carol", "bob", "alice"}));

            h.dialog->sessionColumns()->setColumnShown(h.detail(SessionDetailColumn::Signing), false);
            h.dialog->sessionColumns()->setColumnShown(h.detail(SessionDetailColumn::Uid), true);
        }
        layoutSettings().sync();
        Harness again;
        QVERIFY(again.dialog->sessionsView()->isColumnHidden(again.detail(SessionDetailColumn::Signing)));
        QVERIFY(!again.dialog->sessionsView()->isColumnHidden(again.detail(SessionDetailColumn::Uid)));
        QVERIFY(again.dialog->sessionsView()->isColumnHidden(again.detail(SessionDetailColumn::ProcessId)));
    }

    void openFilesFilterAndClose()
    {
        Harness h;
        h.net.setSessions(
            {session("alice", "pc1", {"docs"}, now, {file(11, "docs", "finance/budget.ods", true)}),
             session("bob", "pc2", {"docs"}, now,
                     {file(12, "docs", "finance/budget.ods", false), file(13, "docs", "notes.txt", false)}),
             session("carol", "10.0.0.9", {"media"}, now, {file(14, "media", "intro.mp4", false)})});
        QVERIFY(h.start());
        QVERIFY(!h.face->monitor().listAllFiles());
        h.dialog->openFilesButton()->click();
        OpenFilesWindow* w = h.dialog->openFilesWindow();
        QVERIFY(w && w->isVisible());
        QAbstractItemModelTester tester(w->filter(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Opening the window asks for every user's files and polls for them at once.
        QTRY_COMPARE(w->filter()->rowCount(), 4);
        QVERIFY(h.face->monitor().listAllFiles());
        QCOMPARE(h.column(w->filter(), static_cast<int>(OpenFileColumn::File)).size(), 4);

        // "Who holds budget.ods open?"
        QTest::keyClicks(w->filterBox(), QStringLiteral("BUDGET"));
        QCOMPARE(w->filter()->rowCount(), 2);
        QStringList who = h.column(w->filter(), static_cast<int>(OpenFileColumn::User));
        who.sort();
        QCOMPARE(who, L({"alice", "bob"}));
        QCOMPARE(w->statusLabel()->text(), QStringLiteral("2 of 4 open files"));
        w->table()->sortByColumn(static_cast<int>(OpenFileColumn::Access), Qt::DescendingOrder);
        QCOMPARE(h.column(w->filter(), static_cast<int>(OpenFileColumn::Access)), L({"read/write", "read"}));
        QCOMPARE(h.column(w->filter(), static_cast<int>(OpenFileColumn::DenyMode)), L({"write", "none"}));

        // The filter matches a computer too, and the selection survives a poll.
        w->filterBox()->setText(QStringLiteral("10.0.0"));
        QCOMPARE(h.column(w->filter(), static_cast<int>(OpenFileColumn::Share)), L({"media"}));
        w->filterBox()->setText(QStringLiteral("budget"));
        w->table()->selectRow(0);
        QVERIFY(h.tick());
        QCOMPARE(w->table()->selectionModel()->selectedRows().first().data().toString(),
                 QStringLiteral("finance/budget.ods"));
        QCOMPARE(w->table()
                     ->selectionModel()
                     ->selectedRows()
                     .first()
                     .siblingAtColumn(static_cast<int>(OpenFileColumn::User))
                     .data()
                     .toString(),
                 QStringLiteral("alice"));

        // Close resource closes that open, off the window's thread, and the list drops it.
        w->closeButton()->click();
        QTRY_COMPARE(h.net.closedFileIds(), std::vector<uint32_t>{11});
        QTRY_COMPARE(w->filter()->rowCount(), 1);
        QVERIFY(h.boxes.shown.empty());

        // Nothing selected: the main window's answer.
        w->table()->clearSelection();
        w->closeButton()->click();
        QCOMPARE(h.boxes.shown.size(), std::size_t(1));
        QCOMPARE(h.boxes.shown[0].text, std::string("Select a file!"));

        // A service that cannot list them says so in the window; closing it stops the listing.
        h.net.setStatus(FakeNetManagement::Op::EnumAllFiles, {netcode::AccessDenied, "Listing was refused."});
        QVERIFY(h.tick());
        QCOMPARE(w->statusLabel()->text(), QStringLiteral("Listing was refused."));
        w->close();
        QVERIFY(!h.face->monitor().listAllFiles());
    }

    void sharesAndTrayCounts()
    {
        Harness h;
        h.net.setSessions({session("alice", "pc1", {"docs", "media"}, now, {file(1, "docs", "a.txt", false)}),
                           session("bob", "pc2", {"docs"}, now)});
        QVERIFY(h.start());
        QCOMPARE(h.dialog->trayIcon()->toolTip(), QStringLiteral("Vantor: 2 sessions, 1 open file"));
        h.dialog->sharesButton()->click();
        SharesWindow* w = h.dialog->sharesWindow();
        QVERIFY(w && w->isVisible());
        QTRY_COMPARE(w->model()->index(0, SharesModel::PathColumn).data().toString(), QStringLiteral("/srv/docs"));
        QCOMPARE(h.column(w->model(), SharesModel::ShareColumn), L({"docs", "media"}));
        QCOMPARE(h.column(w->model(), SharesModel::ConnectionsColumn), L({"2", "1"}));
        QCOMPARE(h.column(w->model(), SharesModel::ClientsColumn), L({"bob@pc2, alice@pc1", "alice@pc1"}));
        QCOMPARE(h.column(w->model(), SharesModel::PathColumn), L({"/srv/docs", ""}));

        // The server's configuration names the folder of a share no file is open on; a service
        // that cannot list its shares leaves the folders to the open files, and the poll goes on.
        h.net.setShares({{"MEDIA", "/data/media"}, {"docs", "/srv/docs"}});
        QVERIFY(h.tick());
        QCOMPARE(h.column(w->model(), SharesModel::PathColumn), L({"/srv/docs", "/data/media"}));
        h.net.setStatus(FakeNetManagement::Op::EnumShares, {netcode::AccessDenied, "Listing was refused."});
        QVERIFY(h.tick());
        QCOMPARE(h.column(w->model(), SharesModel::PathColumn), L({"/srv/docs", ""}));
        QVERIFY(h.boxes.shown.empty());
        h.net.setStatus(FakeNetManagement::Op::EnumShares, NetStatus::success());

        h.net.setSessions({session("bob", "pc2", {"docs"}, now)});
        QVERIFY(h.tick());
        QCOMPARE(h.dialog->trayIcon()->toolTip(), QStringLiteral("Vantor: 1 session, 0 open files"));
        QCOMPARE(h.column(w->model(), SharesModel::ShareColumn), L({"docs"}));
    }

    void theWindowResizesAndKeepsItsLayout()
    {
        QRect sessions, files;
        {
            Harness h(true);
            QVERIFY(h.start());
            const QRect small = h.dialog->sessionsView()->geometry();
            const QRect smallFiles = h.dialog->filesView()->geometry();
            h.dialog->resize(h.dialog->width() + 200, h.dialog->height() + 100);
            sessions = h.dialog->sessionsView()->geometry();
            files = h.dialog->filesView()->geometry();
            QCOMPARE(sessions.width(), small.width() + 200);
            QCOMPARE(sessions.height() + files.height(), small.height() + smallFiles.height() + 100);
            // The buttons stay in the bottom right corner, inside the window.
            QCOMPARE(h.dialog->historyButton()->geometry().right(), h.dialog->width() - 11);
            QVERIFY(h.dialog->historyButton()->geometry().bottom() < h.dialog->height());
            // The splitter still moves between the tables, within its limits.
            QCOMPARE(h.dialog->splitter()->moveBy(-30), -30);
            QCOMPARE(h.dialog->sessionsView()->geometry().bottom(), sessions.bottom() - 30);
            QCOMPARE(h.dialog->filesView()->geometry().top(), files.top() - 30);
            sessions = h.dialog->sessionsView()->geometry();
            files = h.dialog->filesView()->geometry();
            QCOMPARE(h.dialog->splitter()->moveBy(-1000), -70);
            QCOMPARE(h.dialog->splitter()->moveBy(70), 70);
            QVERIFY(h.dialog->width() >= 680);
        }
        layoutSettings().sync();
        Harness again(true);
        QCOMPARE(again.dialog->sessionsView()->geometry(), sessions);
        QCOMPARE(again.dialog->filesView()->geometry(), files);
        // Tests and the bench leave the file alone: their window starts at the first design.
        Harness plain;
        QCOMPARE(plain.dialog->size(), QSize(480, 392));
    }
};

QTEST_MAIN(DetailViewsTest)
#include "DetailViewsTest.moc"
