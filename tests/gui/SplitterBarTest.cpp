// The bar between the two tables: dragged with the mouse, held within its limits.

#include "ui/SplitterBar.h"

#include <QRubberBand>
#include <QSignalSpy>
#include <QTest>

using namespace vantor;

class SplitterBarTest : public QObject {
    Q_OBJECT
private slots:
    void aDragMovesTheBarOnRelease()
    {
        QWidget window;
        window.resize(300, 400);
        SplitterBar bar(100, 50, &window);
        bar.setHome(QRect(10, 200, 280, 6));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy moved(&bar, &SplitterBar::moved);

        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(100, 3));
        QTest::mouseMove(&bar, QPoint(100, -37));
        // While dragged only the track moves.
        QCOMPARE(bar.geometry().top(), 200);
        auto* track = window.findChild<QRubberBand*>();
        QVERIFY(track && track->isVisible());
        QCOMPARE(track->geometry().top(), 160);
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(100, -37));
        QVERIFY(!track->isVisible());
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), -40);
        QCOMPARE(bar.geometry().top(), 160);
    }

    void theLimitsHoldFromTheHomePlace_data()
    {
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<int>("offset");
        QTest::newRow("far up") << QList<int>{-300} << -100;
        QTest::newRow("far down") << QList<int>{300} << 50;
        QTest::newRow("up in steps") << QList<int>{-60, -60} << -100;
        QTest::newRow("down then up") << QList<int>{40, 40, -200} << -100;
        QTest::newRow("back home") << QList<int>{30, -30} << 0;
    }

    void theLimitsHoldFromTheHomePlace()
    {
        QFETCH(QList<int>, moves);
        QFETCH(int, offset);
        QWidget window;
        SplitterBar bar(100, 50, &window);
        bar.setHome(QRect(0, 200, 100, 6));
        int total = 0;
        QSignalSpy moved(&bar, &SplitterBar::moved);
        for (int m : moves)
            total += bar.moveBy(m);
        QCOMPARE(bar.offset(), offset);
        QCOMPARE(total, offset);
        int reported = 0;
        for (const auto& args : moved)
            reported += args.at(0).toInt();
        QCOMPARE(reported, offset);
        QCOMPARE(bar.geometry().top(), 200 + offset);
    }
};

QTEST_MAIN(SplitterBarTest)
#include "SplitterBarTest.moc"
