#include "traces/sources/DefenderSource.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "traces/ExecutionTraces.h"

#include <QTemporaryDir>
#include <QTest>

// Windows Defender's exclusions and its log, read through the stand-ins: which exclusions spare too
// much, what it caught, and when it was switched off.
class DefenderSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void sparedFolders_data();
    void sparedFolders();
    void exclusionsAndLog();
};

void DefenderSourceTest::sparedFolders_data()
{
    QTest::addColumn<QString>("excluded");
    QTest::addColumn<bool>("tooMuch");
    QTest::newRow("a whole drive") << "D:\\" << true;
    QTest::newRow("a drive without its separator") << "C:" << true;
    QTest::newRow("the folder holding the game") << "D:\\Games\\" << true;
    QTest::newRow("inside the user's folder") << "C:\\Users\\p\\Downloads\\cheat" << true;
    QTest::newRow("a tool's own folder") << "C:\\Program Files\\Vendor\\Tool" << false;
    QTest::newRow("a neighbour sharing a prefix") << "D:\\Games2" << false;
}

void DefenderSourceTest::sparedFolders()
{
    QFETCH(QString, excluded);
    QFETCH(bool, tooMuch);
    QCOMPARE(
        DefenderSource::sparesTooMuch(excluded, {QStringLiteral("D:\\Games\\csgo"), QStringLiteral("C:\\Users\\p")}),
        tooMuch);
}

void DefenderSourceTest::exclusionsAndLog()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    const QString folder = root.filePath(QStringLiteral("Tools"));
    QVERIFY(writeFile(folder + QStringLiteral("/aim.exe"), "MZ"));
    QVERIFY(
        useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\Paths]\r\n\"" +
                        QDir::toNativeSeparators(folder).replace(QLatin1Char('\\'), QStringLiteral("\\\\")).toUtf8() +
                        "\"=dword:00000000\r\n\"E:\\\\\"=dword:00000000\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\Extensions]\r\n"
                        "\"dll\"=dword:00000000\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs]\r\n"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto event = [&now](int id, int hoursAgo, const QByteArray &data) {
        return "<Event><System><EventID>" + QByteArray::number(id) + "</EventID><TimeCreated SystemTime='" +
               now.addSecs(-3600 * hoursAgo).toString(Qt::ISODate).toLatin1() +
               "'/><Channel>Microsoft-Windows-Windows Defender/Operational</Channel></System><EventData>" + data +
               "</EventData></Event>";
    };
    QVERIFY(
        writeFile(root.filePath(QStringLiteral("events.xml")),
                  "<Events>" +
                      event(1116, 5,
                            "<Data Name='Threat Name'>HackTool:Win64/&lt;Cheat&gt;</Data>"
                            "<Data Name='Path'>file:_" +
                                folder.toUtf8() + "/aim.exe; process:_pid:1</Data>") +
                      event(5001, 4, "") +
                      event(5007, 3,
                            "<Data Name='New Value'>HKLM\\SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\Paths\\"
                            "E:\\ = 0x0</Data>") +
                      event(5007, 2, "<Data Name='New Value'>HKLM\\...\\SignatureUpdateInterval = 0x8</Data>") +
                      event(5001, 24 * 40, "") + "</Events>"));
    environment.set("VIGILOR_EVENT_LOG", root.filePath(QStringLiteral("events.xml")));
    TraceMachine machine;
    machine.now = now;
    const TraceCollection collection = collectTraces(machine, {}, {}, false);
    const QString shownFolder = QDir::toNativeSeparators(folder);
    QCOMPARE(collection.notices, (QStringList{QStringLiteral("Исключение Защитника: путь ") + shownFolder,
                                              QStringLiteral("Исключение Защитника: путь E:\\"),
                                              QStringLiteral("Исключение Защитника: расширение dll")}));
    const QStringList defender = collection.signs.filter(QStringLiteral("Защит"));
    QCOMPARE(defender.size(), 4);
    QCOMPARE(defender.at(0), QStringLiteral("Защитник не проверяет: E:\\"));
    QVERIFY(defender.at(1).startsWith(QStringLiteral("Защита в реальном времени выключена (")));
    QVERIFY(defender.at(2).startsWith(QStringLiteral("Настройки Защитника изменены: HKLM")));
    // The caught file lies in an excluded folder: the exclusion covers a row of this check.
    QCOMPARE(defender.at(3), QStringLiteral("Защитник не проверяет: ") + shownFolder);
    QVector<TraceRow> caught;
    for (const TraceRow &row : collection.rows) {
        if (row.source == QStringLiteral("Защитник"))
            caught.append(row);
    }
    QCOMPARE(caught.size(), 1);
    QCOMPARE(caught.first().path, folder + QStringLiteral("/aim.exe"));
    QCOMPARE(caught.first().threat, QStringLiteral("HackTool:Win64/<Cheat>"));
}

VIGILOR_GUILESS_TEST_MAIN(DefenderSourceTest)
#include "DefenderSourceTest.moc"
