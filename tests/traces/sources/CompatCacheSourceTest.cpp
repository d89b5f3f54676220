#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/CompatCacheReader.h"
#include "traces/ExecutionTraces.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// The compatibility cache in each layout Windows wrote it, cut or unknown ones, and the USB storage
// devices, read through the registry stand-in.
class CompatCacheSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data();
    void layouts();
    void damaged_data();
    void damaged();
    void cacheAndDevicesAsRows();
};

namespace {
const QDateTime kModified(QDate(2026, 11, 30), QTime(20, 15, 0), Qt::UTC);
const QStringList kPaths = {QStringLiteral("C:\\Users\\p\\Desktop\\loader.exe"), QStringLiteral("C:\\Tools\\Ж.exe")};

} // namespace

void CompatCacheSourceTest::layouts_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("name");
    QTest::newRow("Windows 10 and 11") << 10 << "Windows 10/11";
    QTest::newRow("Windows 8.1") << 81 << "Windows 8.1";
    QTest::newRow("Windows 8") << 8 << "Windows 8";
    QTest::newRow("Windows 7 64-bit") << 7 << "Windows 7";
}

void CompatCacheSourceTest::layouts()
{
    QFETCH(int, layout);
    QFETCH(QString, name);
    const CompatCache cache = readCompatCache(compatCacheValue(layout, kPaths, kModified));
    QCOMPARE(cache.layout, name);
    QCOMPARE(cache.problem, QString());
    QCOMPARE(cache.entries.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(cache.entries.at(i).path, kPaths.at(i));
        QCOMPARE(cache.entries.at(i).modified, kModified.addSecs(-60 * i));
        QCOMPARE(cache.entries.at(i).position, i);
    }
}

void CompatCacheSourceTest::damaged_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("problem");
    const QByteArray windows10 = compatCacheValue(10, kPaths, kModified);
    QByteArray pastTheEnd = windows10;
    // The second entry's size, far past the value's end.
    const int second = 0x34 + 12 + 2 + kPaths.at(0).size() * 2 + 12;
    qToLittleEndian<quint32>(0x7fffffff, pastTheEnd.data() + second + 8);
    QByteArray windows7 = compatCacheValue(7, kPaths, kModified);
    qToLittleEndian<quint64>(0xffffffffffULL, windows7.data() + 0x80 + 48 + 8);
    QTest::newRow("cut in the second entry")
        << windows10.left(windows10.size() - 5) << 1 << "запись 1 обрезана или не на своём месте";
    QTest::newRow("an entry's length past the end") << pastTheEnd << 1 << "запись 1 обрезана или не на своём месте";
    QTest::newRow("a path offset past the end") << windows7 << 1 << "запись 1 обрезана или не на своём месте";
    QTest::newRow("unknown signature") << QByteArray("\x11\x22\x33\x44 more bytes", 15) << 0
                                       << "неизвестный формат (заголовок 0x44332211)";
    QTest::newRow("shorter than a header") << QByteArray("\x34", 1) << 0 << "значение короче заголовка";
}

void CompatCacheSourceTest::damaged()
{
    QFETCH(QByteArray, value);
    QFETCH(int, kept);
    QFETCH(QString, problem);
    const CompatCache cache = readCompatCache(value);
    QCOMPARE(cache.entries.size(), kept);
    QCOMPARE(cache.problem, problem);
}

// Both sources through the collection: the cache's rows carry a file time that is no run, a cut cache
// is a sign; a device's row is removable with its four times, and one removed ten minutes ago is a
// notice.
void CompatCacheSourceTest::cacheAndDevicesAsRows()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray cache = compatCacheValue(10, kPaths, kModified);
    const QByteArray device = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_SanDisk\\4C53";
    const QByteArray properties = device + "\\Properties\\{83da6326-97a6-4088-9453-a1923f573b29}\\";
    QVERIFY(useRegistry(
        environment, root.filePath(QStringLiteral("registry.reg")),
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\AppCompatCache]\r\n"
        "\"AppCompatCache\"=" +
            registryHex(cache.left(cache.size() - 5)) + "\r\n\r\n[" + device +
            "]\r\n\"FriendlyName\"=\"SanDisk <Cruzer>\"\r\n\r\n[" + properties +
            "0065]\r\n@=" + registryHex(fileTimeBytes(now.addDays(-20)), "hex(ffff0010)") + "\r\n\r\n[" + properties +
            "0066]\r\n@=" + registryHex(fileTimeBytes(now.addSecs(-3600)), "hex(ffff0010)") + "\r\n\r\n[" + properties +
            "0067]\r\n@=" + registryHex(fileTimeBytes(now.addSecs(-600)), "hex(ffff0010)") + "\r\n"));
    TraceMachine machine;
    machine.now = now;
    const TraceCollection collection = collectTraces(machine, {}, {}, false);
    QVector<TraceRow> cacheRows, deviceRows;
    for (const TraceRow &row : collection.rows) {
        if (row.source == QLatin1String("ShimCache"))
            cacheRows.append(row);
        else if (row.source == QLatin1String("USB"))
            deviceRows.append(row);
    }
    QCOMPARE(cacheRows.size(), 1);
    QCOMPARE(cacheRows.first().path, kPaths.first());
    QCOMPARE(cacheRows.first().time, kModified);
    QCOMPARE(cacheRows.first().timeKind, TraceTimeKind::Modified);
    QCOMPARE(cacheRows.first().cachePosition, 0);
    QVERIFY(collection.signs.contains(
        QStringLiteral("Кэш совместимости (ShimCache, Windows 10/11): запись 1 обрезана или не на своём месте")));
    QCOMPARE(deviceRows.size(), 1);
    QCOMPARE(deviceRows.first().path, QStringLiteral("SanDisk <Cruzer> (4C53)"));
    QCOMPARE(deviceRows.first().medium, TraceMedium::Removable);
    QCOMPARE(deviceRows.first().time.toSecsSinceEpoch(), now.addSecs(-3600).toSecsSinceEpoch());
    QCOMPARE(deviceRows.first().deviceTimes.size(), 4);
    QVERIFY(!deviceRows.first().deviceTimes.at(1).isValid());
    QCOMPARE(collection.notices,
             QStringList{
                 QStringLiteral("Съёмный диск отключён за 10 мин до проверки: SanDisk <Cruzer> (4C53) (%1)")
                     .arg(now.addSecs(-600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC"))});
    // Under Wine the keys went into the prefix's registry: they are cleared, so that nothing of this
    // test reaches the photographs of the program taken in the same prefix.
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("empty.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
}

VIGILOR_GUILESS_TEST_MAIN(CompatCacheSourceTest)
#include "CompatCacheSourceTest.moc"
