#include "report/CheckRecord.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "drivers/DriverTypes.h"
#include "traces/ExecutionTraces.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

// The record of a check: what the pages announce, as JSON and as an HTML page.
class CheckRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checkInEveryTabGivesTheExpectedJson();
    void playerTextIsEscapedInTheHtml();
    void defaultFileName();

private:
    CheckRecord record;
    QJsonObject report;
};

void CheckRecordTest::initTestCase()
{
    QSignalSpy changed(&record, &CheckRecord::changed);
    record.scanStarted();
    record.ruleMatched(1, QStringLiteral("Чит-лоадер"), QStringLiteral("C:/Games/<script>x</script>.exe"));
    record.suspiciousTermFound(QStringLiteral("aim <b>bot</b>"), QStringLiteral("Microsoft Edge"),
                               QStringLiteral("Profile <1>"));
    record.scanFinished();
    record.accountChecked(QStringLiteral("76561198000000001"), QStringLiteral("<i>Ann</i>"), true, true, false, 2);
    record.accountChecked(QStringLiteral("76561198000000002"), QStringLiteral("Bob"), false, false, false, 0);
    record.utilityStarted(QStringLiteral("Everything.exe"));
    record.folderOpened(QStringLiteral("C:/Users/player/AppData/Roaming/"));
    record.repaired(QStringLiteral("fix"), {QStringLiteral("C:/Games/csgo/models")});
    TraceCollection traces;
    traces.collected = QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
    traces.signs = QStringList{QStringLiteral("Служба SysMain отключена: Start = 4")};
    traces.unreadable = QStringList{QStringLiteral("Prefetch (C:\\Windows\\Prefetch)")};
    TraceRow legit;
    legit.path = legit.fileName = QStringLiteral("legit.cfg");
    legit.source = QStringLiteral("Recent");
    traces.rows.append(legit);
    TraceRow cheat;
    cheat.time = QDateTime(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
    cheat.path = QStringLiteral("C:\\<s>\\a.exe");
    cheat.fileName = QStringLiteral("a.exe");
    cheat.source = QStringLiteral("BAM");
    cheat.state = TraceState::Present;
    cheat.sha256 = QString(64, QLatin1Char('f'));
    cheat.matched = true;
    cheat.ruleDescription = QStringLiteral("Aimbot");
    cheat.ruleLevel = 1;
    cheat.matchedFile = QStringLiteral("D:\\<i>hook.dll");
    cheat.earlierRuns = {QDateTime(QDate(2026, 11, 30), QTime(8, 0), Qt::UTC)};
    cheat.runCount = 2;
    cheat.medium = TraceMedium::Removable;
    traces.rows.append(cheat);
    record.tracesCollected(traces);
    DriverCheck drivers;
    drivers.checked = traces.collected;
    drivers.lines = {{DriverLineLevel::Red, QStringLiteral("Драйвер из пользовательской папки: C:\\<u>\\x.sys")},
                     {DriverLineLevel::NotRead, QStringLiteral("Отладчик ядра: нет прав")}};
    DriverRow driver;
    driver.name = QStringLiteral("x.sys");
    driver.path = QStringLiteral("C:\\<u>\\x.sys");
    driver.recordedPath = QStringLiteral("\\??\\C:\\<u>\\x.sys");
    driver.loaded = driver.red = true;
    driver.signature = SignatureVerdict::Trusted;
    driver.signer = QStringLiteral("Vendor <Ltd>");
    driver.sha256 = QString(64, QLatin1Char('a'));
    driver.listEntry = QStringLiteral("x.sys");
    driver.listCategory = QStringLiteral("vulnerable");
    drivers.rows.append(driver);
    record.driversChecked(drivers);
    QCOMPARE(changed.count(), 8);
    report = record.toJson(QStringLiteral("Проверка перед финалом & <b>всё</b>"));
}

void CheckRecordTest::checkInEveryTabGivesTheExpectedJson()
{
    QCOMPARE(report.value(QStringLiteral("machine")).toString(), QSysInfo::machineHostName());
    QVERIFY(QDateTime::fromString(report.value(QStringLiteral("started")).toString(), Qt::ISODate).isValid());
    QVERIFY(report.value(QStringLiteral("started")).toString().endsWith(QLatin1Char('Z')));
    // What differs from machine to machine and run to run is set aside.
    QJsonObject stable = report;
    stable.insert(QStringLiteral("machine"), QStringLiteral("M"));
    stable.insert(QStringLiteral("user"), QStringLiteral("U"));
    stable.insert(QStringLiteral("os"), QStringLiteral("O"));
    stable.insert(QStringLiteral("started"), QStringLiteral("S"));
    QJsonArray events;
    for (const QJsonValue &event : stable.value(QStringLiteral("events")).toArray()) {
        QJsonObject fixed = event.toObject();
        QVERIFY(fixed.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z')));
        fixed.insert(QStringLiteral("time"), QStringLiteral("T"));
        events.append(fixed);
    }
    stable.insert(QStringLiteral("events"), events);
    const QByteArray expected = readFile(QStringLiteral(VIGILOR_TEST_DATA "/report-expected.json"));
    QCOMPARE(QJsonDocument(stable).toJson(), QJsonDocument::fromJson(expected).toJson());
}

void CheckRecordTest::playerTextIsEscapedInTheHtml()
{
    const QString html = renderReportHtml(report);
    for (const char *shown : {"&lt;i&gt;Ann&lt;/i&gt;", "C:/Games/&lt;script&gt;x&lt;/script&gt;.exe",
                              "aim &lt;b&gt;bot&lt;/b&gt; (Microsoft Edge, Profile &lt;1&gt;)",
                              "Проверка перед финалом &amp; &lt;b&gt;всё&lt;/b&gt;", "проверка не удалась",
                              "Следы запуска: 2, совпадений: 1", "<td>C:\\&lt;s&gt;\\a.exe</td>",
                              "Aimbot (загружен D:\\&lt;i&gt;hook.dll)", "Драйверы: 1, обнаружений: 1",
                              "<li class=\"bad\">Драйвер из пользовательской папки: C:\\&lt;u&gt;\\x.sys</li>",
                              "<td>Vendor &lt;Ltd&gt;</td>"})
        QVERIFY2(html.contains(QString::fromUtf8(shown)), shown);
    // Self-contained and inert: no script, nothing fetched.
    for (const char *absent : {"<script", "<i>", "src=", "href=", "url("})
        QVERIFY2(!html.contains(QLatin1String(absent)), absent);
}

void CheckRecordTest::defaultFileName()
{
    QCOMPARE(
        defaultReportFileName(QStringLiteral("DESKTOP-1/x y"), QDateTime(QDate(2026, 12, 7), QTime(13, 5, 9), Qt::UTC)),
        QStringLiteral("vigilor-report-DESKTOP-1_x_y-20261207-130509.html"));
}

VIGILOR_GUILESS_TEST_MAIN(CheckRecordTest)
#include "CheckRecordTest.moc"
