#include "drivers/DriverCollector.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

// The whole drivers check on a machine of the stand-in: the loaded drivers, the services, the
// installed and the deleted ones, each file read once and matched against the list.
class DriverCollectorTest : public QObject
{
    Q_OBJECT

private slots:
    void wholeCheck();
    void nothingToAsk();
};

namespace {
QString hexDigest(const QByteArray &data, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
}

const DriverRow *rowNamed(const DriverCheck &check, const QString &name)
{
    for (const DriverRow &row : check.rows) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

QStringList texts(const DriverCheck &check, DriverLineLevel level)
{
    QStringList lines;
    for (const DriverLine &line : check.lines) {
        if (line.level == level)
            lines.append(line.text);
    }
    return lines;
}
} // namespace

void DriverCollectorTest::wholeCheck()
{
    QTemporaryDir root;
    const QString machine = root.path();
    ScopedEnvironment environment;
    const QString windows = machine + QStringLiteral("/Windows");
    environment.set("SystemRoot", windows);
    environment.set("USERPROFILE", machine + QStringLiteral("/Users/player"));
    environment.set("VIGILOR_CODE_INTEGRITY", QStringLiteral("0x1"));
    environment.set("VIGILOR_KERNEL_DEBUGGER", QStringLiteral("0"));
    environment.unset("VIGILOR_USN_JOURNAL");
    const QByteArray disk = peImage("disk driver");
    const QByteArray monitor = peImage("monitoring driver");
    QVERIFY(writeFile(windows + QStringLiteral("/System32/drivers/disk.sys"), disk));
    QVERIFY(writeFile(windows + QStringLiteral("/System32/drivers/monitor.sys"), monitor));
    QVERIFY(writeFile(machine + QStringLiteral("/Users/player/AppData/Local/Temp/evil.sys"), peImage("evil")));
    // The same file loaded and named by a service in two spellings, and a driver loaded from a user's folder.
    QVERIFY(
        writeFile(machine + QStringLiteral("/loaded.txt"),
                  "\\SystemRoot\\System32\\drivers\\disk.sys\n\\SystemRoot\\System32\\drivers\\monitor.sys\n\\??\\" +
                      machine.toUtf8() + "/Users/player/AppData/Local/Temp/evil.sys\n"));
    environment.set("VIGILOR_LOADED_DRIVERS", machine + QStringLiteral("/loaded.txt"));
    const QByteArray services = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
    QVERIFY(useRegistry(
        environment, machine + QStringLiteral("/registry.reg"),
        "Windows Registry Editor Version 5.00\r\n\r\n" + services + "\\disk]\r\n\"Type\"=dword:00000001\r\n\r\n" +
            services +
            "\\gone]\r\n\"Type\"=dword:00000001\r\n\"ImagePath\"=\"System32\\\\drivers\\\\gdrv.sys\"\r\n\r\n" +
            services + "\\app]\r\n\"Type\"=dword:00000010\r\n\"ImagePath\"=\"C:\\\\x.exe\"\r\n\r\n"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(writeFile(machine + QStringLiteral("/events.xml"),
                      "<Events><Event><System><EventID>7045</EventID><TimeCreated SystemTime='" +
                          now.addDays(-2).toString(Qt::ISODate).toLatin1() +
                          "'/><Channel>System</Channel></System><EventData><Data Name='ServiceName'>mapper</Data>"
                          "<Data Name='ImagePath'>\\??\\" +
                          machine.toUtf8() +
                          "/Temp/mapper.sys</Data><Data Name='ServiceType'>kernel mode driver</Data></EventData>"
                          "</Event></Events>"));
    environment.set("VIGILOR_EVENT_LOG", machine + QStringLiteral("/events.xml"));

    const DriverList list = DriverList::fromJson(QJsonObject{
        {QStringLiteral("drivers"),
         QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("monitor.sys")},
                                {QStringLiteral("category"), QStringLiteral("vulnerable")},
                                {QStringLiteral("sha1"), QJsonArray{hexDigest(monitor, QCryptographicHash::Sha1)}}},
                    QJsonObject{{QStringLiteral("names"), QJsonArray{QStringLiteral("GDRV.sys")}},
                                {QStringLiteral("category"), QStringLiteral("vulnerable")}}}}});
    int reported = 0;
    const DriverCheck check =
        checkDrivers(DriverMachine::current(), list, QString(), [&reported](int done, int) { reported = done; });

    QCOMPARE(check.rows.size(), 4);
    QCOMPARE(reported, 4);
    const DriverRow *diskRow = rowNamed(check, QStringLiteral("disk.sys"));
    QVERIFY(diskRow);
    QCOMPARE(diskRow->state, DriverRow::State::Loaded);
    QCOMPARE(diskRow->service, QStringLiteral("disk"));
    QCOMPARE(diskRow->sha256, hexDigest(disk, QCryptographicHash::Sha256));
    QCOMPARE(diskRow->authenticode.size(), 64);
    QCOMPARE(rowNamed(check, QStringLiteral("monitor.sys"))->listEntry, QStringLiteral("monitor.sys"));
    const DriverRow *goneRow = rowNamed(check, QStringLiteral("gdrv.sys"));
    QVERIFY(goneRow);
    QCOMPARE(goneRow->state, DriverRow::State::Deleted);
    QVERIFY(goneRow->listedByName);
    QVERIFY(rowNamed(check, QStringLiteral("evil.sys"))->red);

    const QStringList red = texts(check, DriverLineLevel::Red);
    QCOMPARE(red.size(), 2);
    QVERIFY(red.at(0).startsWith(QStringLiteral("Драйвер из пользовательской папки: ")));
    QVERIFY(red.at(1).startsWith(QStringLiteral("Драйвер установлен и удалён: mapper (")));
    // The stand-in judges no trust: a listed driver it cannot vouch for is orange, never red.
    QCOMPARE(texts(check, DriverLineLevel::Orange),
             (QStringList{QStringLiteral("Загружен драйвер из списка уязвимых: monitor.sys (%1)")
                              .arg(windows + QStringLiteral("/System32/drivers/monitor.sys")),
                          QStringLiteral("Служба драйвера из списка уязвимых: GDRV.sys (%1)")
                              .arg(windows + QStringLiteral("/System32/drivers/gdrv.sys"))}));
    QCOMPARE(texts(check, DriverLineLevel::Plain), QStringList{QStringLiteral("Защита целостности памяти: выключена")});
}

// Nothing set: every question the stand-in cannot answer is a line, the list's absence too.
void DriverCollectorTest::nothingToAsk()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    for (const char *variable : {"VIGILOR_CODE_INTEGRITY", "VIGILOR_KERNEL_DEBUGGER", "VIGILOR_LOADED_DRIVERS",
                                 "VIGILOR_EVENT_LOG", "VIGILOR_USN_JOURNAL"})
        environment.unset(variable);
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const DriverCheck check = checkDrivers(DriverMachine::current(), DriverList(), QStringLiteral("404"));
    QVERIFY(check.rows.isEmpty());
    QCOMPARE(texts(check, DriverLineLevel::Orange),
             QStringList{QStringLiteral("Список уязвимых драйверов не загружен")});
    QCOMPARE(texts(check, DriverLineLevel::NotRead).size(), 5);
}

VIGILOR_GUILESS_TEST_MAIN(DriverCollectorTest)
#include "DriverCollectorTest.moc"
