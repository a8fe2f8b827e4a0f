// The sessions table's detail columns, the "Open files" and "Shares" windows and the tray's counts,
// over the fake service.
#include "DetailedSessions.h"
#include "WindowHarness.h"
#include "app/DetailViews.h"
#include "ui/TableColumns.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>

using namespace vantor;
using namespace vantor::test;

namespace {

constexpr int64_t now = 1'800'000'000;

// The sessions table's column of a detail.
int detail(SessionDetailColumn c)
{
    return SessionsTableModel::FirstDetailColumn + static_cast<int>(c);
}

}  // namespace

class DetailViewsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void detailColumnsTooltipSortAndRememberedHiding()
    {
        {
            Harness h;
            h.clock.set(now);
            h.net.setSessions({detailedSession("alice", "pc1", {"docs", "media"}, now - 3725),
                               detailedSession("bob", "pc2", {"docs"}, now - 60),
                               detailedSession("carol", "pc3", {}, now - 7200)});
            QVERIFY(h.start());
            auto* m = h.dialog->sessionsModel();
            // User, computer and open files first and unchanged; the details after them.
            QCOMPARE(h.column(m, 0), L({"carol", "bob", "alice"}));
            QCOMPARE(m->headerData(detail(SessionDetailColumn::Shares), Qt::Horizontal, Qt::DisplayRole).toString(),
                     QStringLiteral("Shares"));
            QCOMPARE(h.column(m, detail(SessionDetailColumn::Shares)), L({"", "docs", "docs, media"}));
            QCOMPARE(m->index(2, 0).data(Qt::ToolTipRole).toString(),
                     QString::fromStdString(sessionTooltip(h.face->monitor().sessionRows()[2], now)));
            // Process and uid start hidden; the three columns cannot be hidden.
            QVERIFY(h.dialog->sessionsView()->isColumnHidden(detail(SessionDetailColumn::ProcessId)));
            h.dialog->sessionColumns()->setColumnShown(SessionsTableModel::UserColumn, false);
            QVERIFY(!h.dialog->sessionsView()->isColumnHidden(SessionsTableModel::UserColumn));

            // Sorting by the connected time, longest last, then back to the monitor's order.
            const int since = detail(SessionDetailColumn::ConnectedTime);
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

            h.dialog->sessionColumns()->setColumnShown(detail(SessionDetailColumn::Signing), false);
            h.dialog->sessionColumns()->setColumnShown(detail(SessionDetailColumn::Uid), true);
        }
        layoutSettings().sync();
        Harness again;
        QVERIFY(again.dialog->sessionsView()->isColumnHidden(detail(SessionDetailColumn::Signing)));
        QVERIFY(!again.dialog->sessionsView()->isColumnHidden(detail(SessionDetailColumn::Uid)));
        QVERIFY(again.dialog->sessionsView()->isColumnHidden(detail(SessionDetailColumn::ProcessId)));
    }

    void openFilesFilterAndClose()
    {
        Harness h;
        h.net.setSessions(
            {detailedSession("alice", "pc1", {"docs"}, now, {sharedFile(11, "docs", "finance/budget.ods", true)}),
             detailedSession(
                 "bob", "pc2", {"docs"}, now,
                 {sharedFile(12, "docs", "finance/budget.ods", false), sharedFile(13, "docs", "notes.txt", false)}),
             detailedSession("carol", "10.0.0.9", {"media"}, now, {sharedFile(14, "media", "intro.mp4", false)})});
        QVERIFY(h.start());
        QVERIFY(!h.face->monitor().listAllFiles());
        h.dialog->openFilesButton()->click();
        OpenFilesWindow* w = h.dialog->openFilesWindow();
        QVERIFY(w && w->isVisible());
        QAbstractItemModelTester tester(w->filter(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Opening the window asks for every user's files and polls for them at once.
        QTRY_COMPARE(w->filter()->rowCount(), 4);
        QVERIFY(h.face->monitor().listAllFiles());

        // "Who holds budget.ods open?"
        QTest::keyClicks(w->filterBox(), QStringLiteral("BUDGET"));
        QCOMPARE(w->filter()->rowCount(), 2);
        QStringList who = h.column(w->filter(), static_cast<int>(OpenFileColumn::User));
        who.sort();
        QCOMPARE(who, L({"alice", "bob"}));
        QCOMPARE(w->statusLabel()->text(), QStringLiteral("2 of 4 open files"));
        w->table()->sortByColumn(static_cast<int>(OpenFileColumn::Access), Qt::DescendingOrder);
        QCOMPARE(h.column(w->filter(), static_cast<int>(OpenFileColumn::Access)), L({"read/write", "read"}));

        // The selection survives a poll.
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
        h.net.setSessions(
            {detailedSession("alice", "pc1", {"docs", "media"}, now, {sharedFile(1, "docs", "a.txt", false)}),
             detailedSession("bob", "pc2", {"docs"}, now)});
        QVERIFY(h.start());
        QCOMPARE(h.dialog->trayIcon()->toolTip(), QStringLiteral("Vantor: 2 sessions, 1 open file"));
        h.dialog->sharesButton()->click();
        SharesWindow* w = h.dialog->sharesWindow();
        QVERIFY(w && w->isVisible());
        QTRY_COMPARE(w->model()->index(0, SharesModel::PathColumn).data().toString(), QStringLiteral("/srv/docs"));
        QCOMPARE(h.column(w->model(), SharesModel::ShareColumn), L({"docs", "media"}));
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

        h.net.setSessions({detailedSession("bob", "pc2", {"docs"}, now)});
        QVERIFY(h.tick());
        QCOMPARE(h.dialog->trayIcon()->toolTip(), QStringLiteral("Vantor: 1 session, 0 open files"));
        QCOMPARE(h.column(w->model(), SharesModel::ShareColumn), L({"docs"}));
    }
};

QTEST_MAIN(DetailViewsTest)
#include "DetailViewsTest.moc"
