#include "app/ScanProgress.h"
#include "TestMain.h"

#include <QProgressBar>
#include <QTest>

#include <thread>

// A tab's bar moved from a worker thread.
class ScanProgressTest : public QObject
{
    Q_OBJECT

private slots:
    void manyItemsPostAThousandMovesAndTheEnd();
};

void ScanProgressTest::manyItemsPostAThousandMovesAndTheEnd()
{
    QProgressBar bar;
    int moves = 0;
    connect(&bar, &QProgressBar::valueChanged, this, [&moves] { ++moves; });
    const auto progress = backgroundProgress(&bar, 5);
    constexpr int kItems = 100000;
    std::thread worker([&progress] {
        for (int done = 1; done <= kItems; ++done)
            progress(done, kItems);
    });
    worker.join();
    QCoreApplication::processEvents();
    QCOMPARE(bar.value(), 5 + kItems);
    QVERIFY2(moves <= 1001, qPrintable(QString::number(moves)));
}

VIGILOR_TEST_MAIN(ScanProgressTest)
#include "ScanProgressTest.moc"
