#include "rules/DetectionRule.h"
#include "TestMain.h"

#include <QJsonDocument>
#include <QTest>

Q_DECLARE_METATYPE(DetectionRule)

class DetectionRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void fromJson_data();
    void fromJson();
    void tracesAndDigests();
};

void DetectionRuleTest::fromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("desc");
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("registry");

    QTest::newRow("complete file rule")
        << QByteArray(R"({"desc":"<b>x</b>","roots":["%appdata%","C:/a"],"filename":"cheat","level":1})") << "<b>x</b>"
        << QStringList{"%appdata%", "C:/a"} << "cheat" << 1 << false;
    QTest::newRow("registry rule") << QByteArray(R"({"roots":["SOFTWARE\\X"],"registry":true})") << ""
                                   << QStringList{"SOFTWARE\\X"} << "" << 0 << true;
    QTest::newRow("empty object") << QByteArray("{}") << "" << QStringList() << "" << 0 << false;
    QTest::newRow("wrong types") << QByteArray(R"({"desc":5,"roots":"C:/a","filename":[1],"level":"2"})") << ""
                                 << QStringList() << "" << 0 << false;
    QTest::newRow("non-string roots count")
        << QByteArray(R"({"roots":["a",7,null,{}]})") << "" << QStringList{"a", "", "", ""} << "" << 0 << false;
    QTest::newRow("level 2") << QByteArray(R"({"level":2})") << "" << QStringList() << "" << 2 << false;
    QTest::newRow("level -1") << QByteArray(R"({"level":-1})") << "" << QStringList() << "" << -1 << false;
    QTest::newRow("level 1.5 is 0") << QByteArray(R"({"level":1.5})") << "" << QStringList() << "" << 0 << false;
    QTest::newRow("level 3.0 is whole") << QByteArray(R"({"level":3.0})") << "" << QStringList() << "" << 3 << false;
    QTest::newRow("level above 32 bits") << QByteArray(R"({"level":2147483648})") << "" << QStringList() << "" << 0
                                         << false;
    QTest::newRow("level at 32-bit minimum")
        << QByteArray(R"({"level":-2147483648})") << "" << QStringList() << "" << int(-2147483647 - 1) << false;
    QTest::newRow("registry as text") << QByteArray(R"({"registry":"true"})") << "" << QStringList() << "" << 0
                                      << false;
    QTest::newRow("registry as number") << QByteArray(R"({"registry":1})") << "" << QStringList() << "" << 0 << false;
    QTest::newRow("registry false") << QByteArray(R"({"registry":false})") << "" << QStringList() << "" << 0 << false;
}

void DetectionRuleTest::fromJson()
{
    QFETCH(QByteArray, json);
    const DetectionRule rule = DetectionRule::fromJson(QJsonDocument::fromJson(json).object());
    QTEST(rule.desc, "desc");
    QTEST(rule.roots, "roots");
    QTEST(rule.filename, "filename");
    QTEST(int(rule.level), "level");
    QTEST(rule.registry, "registry");
}

void DetectionRuleTest::tracesAndDigests()
{
    const QString digest(64, QLatin1Char('a'));
    const DetectionRule rule = DetectionRule::fromJson(
        QJsonDocument::fromJson(
            QStringLiteral(R"({"traces":true,"sha256":["%1","%2","%3z",7,"%4"],"sha1":["%5","%4","%6"]})")
                .arg(digest.toUpper(), digest, digest.left(63), digest.left(63), digest.left(40).toUpper(),
                     digest.left(41))
                .toUtf8())
            .object());
    QVERIFY(rule.traces);
    // Either case reads as one; what is not 64 (40 for SHA-1) hex digits is left out.
    QCOMPARE(rule.sha256, (QStringList{digest, digest}));
    QCOMPARE(rule.sha1, QStringList{digest.left(40)});
    const DetectionRule plain = DetectionRule::fromJson(QJsonDocument::fromJson(R"({"traces":"true"})").object());
    QVERIFY(!plain.traces);
    QVERIFY(plain.sha256.isEmpty());
}

VIGILOR_GUILESS_TEST_MAIN(DetectionRuleTest)
#include "DetectionRuleTest.moc"
