#include "TestMain.h"
#include "app/MainWindow.h"

#include <QTest>

class CompareVersionsTest : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
};

void CompareVersionsTest::compare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");

    QTest::newRow("equal") << "0.0.1"
                           << "0.0.1" << 0;
    QTest::newRow("missing part counts as 0") << "0.0.1"
                                              << "0.0.1.0" << 0;
    QTest::newRow("shorter newer") << "0.0.1"
                                   << "0.1" << -1;
    QTest::newRow("older server") << "0.0.1"
                                  << "0.0.0" << 1;
    QTest::newRow("shorter older") << "0.0.1"
                                   << "0.0" << 1;
    QTest::newRow("non-numeric part is 0") << "0.0.1"
                                           << "1.0-beta" << -1;
    QTest::newRow("empty server version") << "0.0.1"
                                          << "" << 1;
    QTest::newRow("both empty") << ""
                                << "" << 0;
    QTest::newRow("numeric not lexical") << "0.0.10"
                                         << "0.0.9" << 1;
    QTest::newRow("first part decides") << "2.0.0"
                                        << "1.9.9" << 1;
    QTest::newRow("empty part is 0") << "1..2"
                                     << "1.0.2" << 0;
    QTest::newRow("leading zeros") << "0.0.01"
                                   << "0.0.1" << 0;
}

void CompareVersionsTest::compare()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QCOMPARE(compareVersions(a, b), result);
    QCOMPARE(compareVersions(b, a), -result);
}

VIGILOR_GUILESS_TEST_MAIN(CompareVersionsTest)
#include "CompareVersionsTest.moc"
