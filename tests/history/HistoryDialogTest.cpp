#include "ScopedTimeZone.h"
#include "TempDir.h"
#include "history/HistoryDialog.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace vantor;
using vantor::test::TempDir;

class HistoryDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<HistoryDialog> open(const TempDir& dir)
    {
        auto dialog = std::make_unique<HistoryDialog>(HistoryDialog::Context{dir.path(), boxes, clock, &settings});
        new QAbstractItemModelTester(dialog->sessionsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     dialog.get());
        new QAbstractItemModelTester(dialog->filesModel(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     dialog.get());
        dialog->show();
        [&] { QVERIFY(QTest::qWaitForWindowExposed(dialog.get())); }();
        // The logs are read beside the GUI thread.
        [&] { QTRY_VERIFY(dialog->isLoaded()); }();
        return dialog;
    }
    static QStringList column(QTableView* view, int c)
    {
        QStringList out;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            out << view->model()->index(r, c).data().toString();
        return out;
    }
    // A picture that was really drawn: some pixel is not transparent.
    static bool drawn(const QVariant& decoration)
    {
        const QImage image = decoration.value<QIcon>().pixmap(16).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 0)
                    return true;
        return false;
    }
    static QStringList names(std::initializer_list<const char*> texts)
    {
        QStringList out;
        for (const char* t : texts)
            out << QString::fromUtf8(t);
        return out;
    }
    static void clickRow(QTableView* view, int row)
    {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 1)).center());
    }
    static void clickHeader(QTableView* view, int section)
    {
        QHeaderView* h = view->horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2));
    }

    RecordingMessageBoxes boxes;
    ManualClock clock{1110300000};
    MonitorSettings settings;
    std::unique_ptr<vantor::test::ScopedTimeZone> zone;

private slots:
    void init() { zone = std::make_unique<vantor::test::ScopedTimeZone>("UTC0"); }
    void cleanup() { zone.reset(); }

    void listsLookAsTheyShould()
    {
        TempDir dir;
        auto d = open(dir);
        QCOMPARE(d->windowTitle(), QStringLiteral("Sessions History"));
        QTableView* s = d->sessionsList();
        QTableView* f = d->fileList();
        const int sessionWidths[] = {110, 110, 100, 200, 100};
        const char* sessionTitles[] = {"User", "Computer", "# Total open files", "Timestamp", "Session time"};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(s->columnWidth(c), sessionWidths[c]);
            QCOMPARE(s->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(sessionTitles[c]));
            const auto align = s->model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
            QCOMPARE(bool(align & Qt::AlignHCenter), c >= 2);
            const QVariant picture = s->model()->headerData(c, Qt::Horizontal, Qt::DecorationRole);
            QCOMPARE(picture.isValid() && drawn(picture), c != 2);
        }
        QCOMPARE(f->columnWidth(0), 150);
        QCOMPARE(f->columnWidth(1), 550);
        QCOMPARE(f->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Resource name"));
        QVERIFY(drawn(f->model()->headerData(0, Qt::Horizontal, Qt::DecorationRole)));
        QVERIFY(drawn(f->model()->headerData(1, Qt::Horizontal, Qt::DecorationRole)));
        QVERIFY(!d->reportButton()->icon().isNull());
        QCOMPARE(s->palette().color(QPalette::Base), QColor(207, 231, 255));
        QCOMPARE(s->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(s->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(d->reportButton()->toolTip(), QStringLiteral("Generate web-based report"));
        QCOMPARE(d->reportButton()->iconSize(), QSize(32, 32));
        QCOMPARE(s->model()->rowCount(), 0);  // no logs: empty lists, no message
        QVERIFY(boxes.shown.empty());
    }

    void rowsComeLatestFirstAndEveryClickSortsDescendingByText()
    {
        TempDir dir;
        std::string files;
        for (int i = 0; i < 9; ++i)
            files += "1110204310 alice pc1 /a" + std::to_string(i) + "\n";
        for (int i = 0; i < 10; ++i)
            files += "1110204410 Bob pc2 /b" + std::to_string(i) + "\n";
        dir.write("files.log", files);
        dir.write("users.log", "1110204309 alice pc1 60\n1110204409 Bob pc2 3600\n1110204509 carol pc3 36000\n");
        auto d = open(dir);
        QTableView* s = d->sessionsList();
        QCOMPARE(column(s, 0), names({"carol", "Bob", "alice"}));
        QCOMPARE(column(s, 2), names({"0", "10", "9"}));
        QCOMPARE(column(s, 3), names({"2005-03-07 14:08:29", "2005-03-07 14:06:49", "2005-03-07 14:05:09"}));
        QCOMPARE(column(s, 4), names({"10:00:00", "01:00:00", "00:01:00"}));

        clickRow(s, 1);  // Bob, kept selected through the sorts
        clickHeader(s, 2);
        QCOMPARE(column(s, 2), names({"9", "10", "0"}));
        QCOMPARE(historySortColumn(), 2);
        QCOMPARE(s->selectionModel()->selectedRows().first().row(), 1);
        QCOMPARE(d->filesModel()->rowCount(), 10);
        clickHeader(s, 2);
        QCOMPARE(column(s, 2), names({"9", "10", "0"}));
        clickHeader(s, 0);
        QCOMPARE(column(s, 0), names({"carol", "alice", "Bob"}));  // small letters above capitals
        clickHeader(s, 3);
        QCOMPARE(column(s, 0), names({"carol", "Bob", "alice"}));
        QCOMPARE(d->filesModel()->rowCount(), 10);
    }

    void theSelectedSessionShowsItsOwnFiles()
    {
        TempDir dir;
        dir.write("files.log", "1110204309 BUILD?ADMIN PC?7 /first\n"
                               "1110204308 BUILD?ADMIN PC?7 /too_early\n"
                               "1110208034 BUILD?ADMIN PC?7 /last\n"
                               "1110204400 BUILD?ADMIN PC?8 /other_computer\n"
                               "1110208035 BUILD?ADMIN PC?7 /too_late\n"
                               "1110204500 BUILD?ADMIN PC?7 /middle\n"
                               "1110300000 BUILD?ADMIN PC?7 /overlap_only\n");
        dir.write("users.log", "1110204309 BUILD_ADMIN PC_7 3725\n1110204309 BUILD_ADMIN PC_8 500\n"
                               "1110207000 BUILD_ADMIN PC_7 100000\n");
        auto d = open(dir);
        QTableView* s = d->sessionsList();
        QTableView* f = d->fileList();
        QCOMPARE(f->model()->rowCount(), 0);  // nothing selected at first

        clickRow(s, 2);
        QCOMPARE(column(f, 1), names({"/first", "/last", "/middle"}));
        QCOMPARE(column(f, 0), names({"2005-03-07 14:05:09", "2005-03-07 15:07:14", "2005-03-07 14:08:20"}));
        clickRow(s, 0);  // overlaps the first: its own window's files, the overlap's included
        QCOMPARE(column(f, 1), names({"/last", "/too_late", "/overlap_only"}));

        // The keyboard's selection changes show files too.
        s->setFocus();
        QTest::keyClick(s, Qt::Key_Down);
        QCOMPARE(column(f, 1), names({"/other_computer"}));

        // The window keeps its load while the console deletes the logs.
        deleteLogs(dir.path());
        clickRow(s, 2);
        QCOMPARE(f->model()->rowCount(), 3);

        // A press below the rows leaves nothing selected and no files.
        QTest::mouseClick(s->viewport(), Qt::LeftButton, {}, QPoint(20, s->viewport()->height() - 4));
        QVERIFY(s->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(f->model()->rowCount(), 0);
    }

    // Both sessions start at "2005-10-30 02:00:00", an hour apart: each still lists its own file.
    void sessionsInTheRepeatedHourKeepTheirFiles()
    {
        zone.reset();  // the old zone goes back before the new one is set
        zone = std::make_unique<vantor::test::ScopedTimeZone>(vantor::test::berlinRules);
        TempDir dir;
        dir.write("files.log", "1130630500 u pc /summer_time\n1130634100 u pc /winter_time\n");
        dir.write("users.log", "1130630400 u pc 600\n1130634000 u pc 600\n");
        auto d = open(dir);
        QTableView* s = d->sessionsList();
        QCOMPARE(column(s, 3), names({"2005-10-30 02:00:00", "2005-10-30 02:00:00"}));
        clickRow(s, 0);
        QCOMPARE(column(d->fileList(), 1), names({"/winter_time"}));
        clickRow(s, 1);
        QCOMPARE(column(d->fileList(), 1), names({"/summer_time"}));
    }

    void theReportButtonWritesTheReport()
    {
        TempDir dir;
        dir.write("users.log", "1110204309 a b 10\n");
        auto d = open(dir);
        d->reportPathName = "from_window.html";
        QSignalSpy written(d.get(), &HistoryDialog::reportWritten);
        QTest::mouseClick(d->reportButton(), Qt::LeftButton);
        // The button waits while the report is written beside the GUI thread.
        QVERIFY(!d->reportButton()->isEnabled());
        QVERIFY(written.wait(10000));
        QVERIFY(written.back().at(0).toBool());
        QVERIFY(d->reportButton()->isEnabled());
        QVERIFY(std::filesystem::exists(dir / "from_window.html"));
        QCOMPARE(boxes.shown.size(), std::size_t{1});
        QCOMPARE(boxes.shown.back().icon, BoxIcon::Information);

        // Opened from the tray, the window has no path of its own: the settings' path serves.
        d->reportPathName.clear();
        settings.reportPath = std::string("from_settings.htm");
        d->generateReport();
        QVERIFY(written.wait(10000));
        QVERIFY(written.back().at(0).toBool());
        QVERIFY(std::filesystem::exists(dir / "from_settings.htm"));

        d->reportPathName = (dir.path() / "missing" / "r.html").string();
        d->generateReport();
        QVERIFY(written.wait(10000));
        QVERIFY(!written.back().at(0).toBool());
        QCOMPARE(boxes.shown.back().icon, BoxIcon::Error);
        QVERIFY2(boxes.shown.back().text.find("No such file") != std::string::npos, boxes.shown.back().text.c_str());
    }
};

QTEST_MAIN(HistoryDialogTest)
#include "HistoryDialogTest.moc"
