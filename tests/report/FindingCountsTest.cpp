#include "report/FindingCounts.h"
#include "TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// The three counts of a check, one event a row: what is red, what is orange and what could not be
// read, and the part of the check that holds each.
class FindingCountsTest : public QObject
{
    Q_OBJECT

private slots:
    void counts_data();
    void counts();
    void partsInOrderMet();
};

void FindingCountsTest::counts_data()
{
    QTest::addColumn<QByteArray>("event");
    QTest::addColumn<QVector<int>>("expected"); // violations, attention, not checked
    QTest::newRow("scan") << QByteArray(R"({"type":"scan","findings":[{"kind":"rule","level":1},
        {"kind":"rule","level":0},{"kind":"search_term"},{"kind":"unreadable"},
        {"kind":"signature","level":1,"error":"timeout"},{"kind":"signature","level":2},
        {"kind":"hidden_window","level":1}]})")
                          << QVector<int>{3, 2, 2};
    QTest::newRow("traces") << QByteArray(R"({"type":"traces","rows":[{"rule":"a","level":1},{"rule":"b","level":0},
        {"path":"c"}],"signs":["s","t"],"notices":["n"],"unreadable":["u"],"not_read":["x","y"]})")
                            << QVector<int>{3, 2, 3};
    QTest::newRow("drivers") << QByteArray(R"({"type":"drivers","lines":[{"level":"red"},{"level":"orange"},
        {"level":"plain"},{"level":"not_read"}]})")
                             << QVector<int>{1, 1, 1};
    QTest::newRow("banned account") << QByteArray(R"({"type":"account","looked_up":true,"game_bans":2})")
                                    << QVector<int>{1, 0, 0};
    QTest::newRow("clean account") << QByteArray(R"({"type":"account","looked_up":true,"vac":false})")
                                   << QVector<int>{0, 0, 0};
    QTest::newRow("lookup failed") << QByteArray(R"({"type":"account","looked_up":false,"vac":true})")
                                   << QVector<int>{0, 0, 1};
    QTest::newRow("list unread") << QByteArray(R"({"type":"accounts","not_read":"no Steam"})") << QVector<int>{0, 0, 1};
    QTest::newRow("other events") << QByteArray(R"({"type":"utility","level":1})") << QVector<int>{0, 0, 0};
}

void FindingCountsTest::counts()
{
    QFETCH(QByteArray, event);
    QFETCH(QVector<int>, expected);
    const FindingCounts counts = countFindings(QJsonArray{QJsonDocument::fromJson(event).object()});
    QCOMPARE((QVector<int>{counts.total[0], counts.total[1], counts.total[2]}), expected);
}

void FindingCountsTest::partsInOrderMet()
{
    const FindingCounts counts = countFindings(QJsonDocument::fromJson(R"([
        {"type":"traces","signs":["s"]},{"type":"scan","findings":[{"kind":"rule","level":1}]},
        {"type":"account","looked_up":true,"vac":true},{"type":"accounts","not_read":"x"}])")
                                                   .array());
    QCOMPARE(counts.parts[FindingCounts::Violations].size(), 3);
    QCOMPARE(counts.parts[FindingCounts::Violations].at(0).type, QStringLiteral("traces"));
    QCOMPARE(counts.parts[FindingCounts::Violations].at(2).type, QStringLiteral("account"));
    // The account list that could not be read is the accounts tab's, like each account.
    QCOMPARE(counts.parts[FindingCounts::NotChecked].first().type, QStringLiteral("account"));
}

VIGILOR_GUILESS_TEST_MAIN(FindingCountsTest)
#include "FindingCountsTest.moc"
