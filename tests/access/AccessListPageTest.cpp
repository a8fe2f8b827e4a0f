#include "ModalAnswer.h"
#include "TempDir.h"
#include "access/AccessListModel.h"
#include "access/AccessListPage.h"
#include "access/AddUserDialog.h"
#include "demo/FakeNetManagement.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace vantor;
using vantor::test::TempDir;
using vantor::test::whenModal;

class AccessListPageTest : public QObject {
    Q_OBJECT
private:
    static QStringList column(const AccessListPage& page, int col)
    {
        QStringList texts;
        for (int r = 0; r < page.model()->rowCount(); ++r)
            texts << page.model()->index(r, col).data().toString();
        return texts;
    }
    static void click(AccessListPage& page, const char* button)
    {
        page.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }

private slots:
    void showsTheFileFromItsLastLineUp()
    {
        TempDir dir;
        dir.write("wlist.dat", "A pcA\nb <any>\nC pcC\n");
        FakeNetManagement net;
        AccessListRows rows;
        rows.readFile(dir / "wlist.dat");
        AccessListPage page(rows, &net);
        QAbstractItemModelTester tester(page.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(column(page, 0), (QStringList{QStringLiteral("C"), QStringLiteral("b"), QStringLiteral("A")}));
        QCOMPARE(column(page, 1), (QStringList{QStringLiteral("pcC"), QStringLiteral("<any>"), QStringLiteral("pcA")}));
        QCOMPARE(page.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("User"));
        QCOMPARE(page.model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Computer"));
        QCOMPARE(page.table()->horizontalHeader()->sectionSize(0), 100);
        // The program's own pictures are found (resources of a static library must be asked for).
        const auto rowIcon = qvariant_cast<QIcon>(page.model()->index(0, 0).data(Qt::DecorationRole));
        QVERIFY(!rowIcon.pixmap(16, 16).isNull());
        const auto computerIcon = qvariant_cast<QIcon>(page.model()->headerData(1, Qt::Horizontal, Qt::DecorationRole));
        QVERIFY(!computerIcon.pixmap(13, 13).isNull());
        QCOMPARE(page.table()->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(page.table()->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    void addRemoveAndClear()
    {
        TempDir dir;
        dir.write("blist.dat", "A pcA\nB pcB\n");
        FakeNetManagement net;
        net.setUsers({"alice"});
        AccessListRows rows;
        rows.readFile(dir / "blist.dat");
        AccessListPage page(rows, &net);
        QAbstractItemModelTester tester(page.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        page.show();

        // "Add user" with an empty computer: taken as it is, at the top.
        bool failed = false;
        whenModal<AddUserDialog>(
            [](AddUserDialog* d) {
                d->findChild<QComboBox*>(QStringLiteral("userBox"))->setCurrentIndex(1);
                d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            },
            &failed);
        click(page, "addUser");
        QVERIFY(!failed);
        QCOMPARE(column(page, 0), (QStringList{QStringLiteral("alice"), QStringLiteral("B"), QStringLiteral("A")}));
        QCOMPARE(page.model()->rows().rows()[0].computer, std::string());

        // Cancel adds nothing.
        whenModal<AddUserDialog>([](AddUserDialog* d) { d->reject(); }, &failed);
        click(page, "addUser");
        QVERIFY(!failed);
        QCOMPARE(page.rowCount(), 3);

        // "Remove user" without a selection changes nothing; with one, removes that row.
        page.table()->clearSelection();
        click(page, "removeUser");
        QCOMPARE(page.rowCount(), 3);
        page.table()->selectRow(1);
        click(page, "removeUser");
        QCOMPARE(column(page, 0), (QStringList{QStringLiteral("alice"), QStringLiteral("A")}));

        click(page, "clear");
        QCOMPARE(page.rowCount(), 0);
    }
};

QTEST_MAIN(AccessListPageTest)
#include "AccessListPageTest.moc"
