#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/EventLogReader.h"
#include "traces/ExecutionTraces.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The System and Security event logs as the collection reads them through the stand-in, and the
// services' image paths.
class EventLogSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void eventLog();
    void serviceImages_data();
    void serviceImages();
};

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);

// One event as `wevtutil qe … /f:xml` writes it.
QByteArray loggedEvent(int id, const char *channel, const QDateTime &time, const QByteArray &body)
{
    return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
           "Name='x'/><EventID>" +
           QByteArray::number(id) + "</EventID><TimeCreated SystemTime='" +
           time.toString(Qt::ISODateWithMs).toLatin1() + "'/><Channel>" + channel + "</Channel></System>" + body +
           "</Event>";
}

} // namespace

// A player's covered tracks in the System and Security logs, read through the stand-in: each event
// its sign or row, a stale one nothing, and a log that breaks off keeps what came before and is named.
void EventLogSourceTest::eventLog()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const QDateTime now = kRun.addDays(1);
    QByteArray binary;
    for (const char c : QByteArray("SysMain/1"))
        binary += QByteArray(1, c) + QByteArray(1, '\0');
    const QByteArray log =
        "<Events>" +
        loggedEvent(1102, "Security", kRun,
                    "<UserData><LogFileCleared xmlns='x'><SubjectUserName>player</SubjectUserName>"
                    "<SubjectDomainName>PC</SubjectDomainName></LogFileCleared></UserData>") +
        loggedEvent(
            4616, "Security", kRun,
            "<EventData><Data Name='SubjectUserName'>player</Data><Data Name='PreviousTime'>2026-12-01T10:00:00Z</Data>"
            "<Data Name='NewTime'>2026-11-01T10:00:00Z</Data></EventData>") +
        loggedEvent(7036, "System", kRun,
                    "<EventData><Data Name='param1'>SysMain</Data><Binary>" + binary.toHex().toUpper() +
                        "</Binary></EventData>") +
        loggedEvent(7040, "System", kRun.addDays(-10), // older than a week
                    "<EventData><Data Name='param2'>auto</Data><Data Name='param3'>disabled</Data>"
                    "<Data Name='param4'>bam</Data></EventData>") +
        // An event the XML reader refuses costs that event only: the driver installed before it stays.
        loggedEvent(7045, "System", kRun, "<EventData><Data Name='ServiceName'>bad&#1;</Data></EventData>") +
        // The window is the common code's, whoever read the log: three months ago is no row.
        loggedEvent(7045, "System", kRun.addDays(-92),
                    "<EventData><Data Name='ServiceName'>old</Data><Data Name='ImagePath'>C:\\Old\\old.sys</Data>"
                    "<Data Name='ServiceType'>kernel mode driver</Data></EventData>") +
        loggedEvent(7045, "System", kRun,
                    "<EventData><Data Name='ServiceName'>kbfilter</Data><Data Name='ImagePath'>\\SystemRoot\\System32\\"
                    "drivers\\kbf.sys</Data><Data Name='ServiceType'>kernel mode driver</Data></EventData>") +
        loggedEvent(
            7045, "System", kRun,
            "<EventData><Data Name='ServiceName'>upd</Data><Data Name='ImagePath'>\"C:\\Tools\\upd.exe\" -k</Data>"
            "<Data Name='ServiceType'>user mode service</Data></EventData>") +
        "<Event><System><EventID>104</EventID"; // cut off mid-event
    const QString file = root.filePath(QStringLiteral("events.xml"));
    QVERIFY(writeFile(file, log));
    environment.set("VIGILOR_EVENT_LOG", file);
    TraceMachine machine{QStringLiteral("C:\\Windows"), QString(), kRun.addDays(-1), now, {}, {}, {}, {}};
    const TraceCollection collection = collectTraces(machine, {});

    const QString when = QStringLiteral("2026-12-01 09:30:15 UTC");
    QCOMPARE(
        collection.signs.filter(QRegularExpression(QStringLiteral("Журнал|время|Служба|службы|драйвер"))),
        (QStringList{
            QStringLiteral("Служба SysMain остановлена (%1)").arg(when),
            QStringLiteral("Установлен драйвер: kbfilter (\\SystemRoot\\System32\\drivers\\kbf.sys, %1)").arg(when),
            QStringLiteral("Журнал событий очищен: Security (%1, PC\\player)").arg(when),
            QStringLiteral("Системное время изменено: 2026-12-01T10:00:00Z → 2026-11-01T10:00:00Z (%1, "
                           "player)")
                .arg(when)}));
    QStringList rows;
    for (const TraceRow &row : collection.rows)
        rows.append(row.source + QLatin1Char(' ') + row.path);
    QCOMPARE(rows.filter(QStringLiteral("Журнал")),
             (QStringList{QStringLiteral("Журнал событий C:\\Windows\\System32\\drivers\\kbf.sys"),
                          QStringLiteral("Журнал событий C:\\Tools\\upd.exe")}));
    QCOMPARE(collection.notRead.filter(QStringLiteral("Журнал событий System")),
             QStringList{QStringLiteral("Журнал событий System: пропущено повреждённых событий: 2")});
    QCOMPARE(collection.parserErrors.filter(QStringLiteral("Журнал событий (System)")).size(), 1);

    // No log named: empty logs, nothing unread.
    environment.unset("VIGILOR_EVENT_LOG");
    QCOMPARE(collectTraces(machine, {}).notRead.filter(QStringLiteral("Журнал")), QStringList());
}

void EventLogSourceTest::serviceImages_data()
{
    QTest::addColumn<QString>("imagePath");
    QTest::addColumn<QString>("file");
    QTest::newRow("quoted, with arguments") << "\"C:\\Program Files\\X\\x.exe\" -service"
                                            << "C:\\Program Files\\X\\x.exe";
    QTest::newRow("unquoted, with arguments") << "C:\\Tools\\svc.exe -k netsvcs"
                                              << "C:\\Tools\\svc.exe";
    QTest::newRow("NT path") << "\\??\\C:\\Tools\\drv.sys"
                             << "C:\\Tools\\drv.sys";
}

void EventLogSourceTest::serviceImages()
{
    QFETCH(QString, imagePath);
    QFETCH(QString, file);
    QCOMPARE(serviceImageFile(imagePath, QStringLiteral("C:\\Windows")), file);
}

VIGILOR_GUILESS_TEST_MAIN(EventLogSourceTest)
#include "EventLogSourceTest.moc"
