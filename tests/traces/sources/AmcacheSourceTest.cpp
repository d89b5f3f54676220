#include "HiveFixture.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "platform/LockedFile.h"
#include "rules/DriverList.h"
#include "traces/AmcacheReader.h"
#include "traces/ExecutionTraces.h"

#include <QBuffer>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Amcache's hive in both layouts Windows wrote, damaged ones, its rows in a collection with their
// SHA-1 matched against the rules and the drivers' list, and the raw NTFS copy of a locked file.
class AmcacheSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data();
    void layouts();
    void damaged_data();
    void damaged();
    void rowsMatchedBySha1();
    void copyFromNtfsImage();
};

namespace {
const QDateTime kRecorded(QDate(2026, 11, 30), QTime(20, 15, 0), Qt::UTC);
const QString kLoaderSha1 = QStringLiteral("1111111111111111111111111111111111111111");
const QString kLargeSha1 = QStringLiteral("2222222222222222222222222222222222222222");
const QString kDriverSha1 = QStringLiteral("3333333333333333333333333333333333333333");

QVector<AmcacheFixtureFile> fixtureFiles()
{
    return {{QStringLiteral("C:\\Users\\p\\Desktop\\Loader.exe"), kLoaderSha1, kRecorded, 4096,
             QStringLiteral("<b>Vendor</b>"), false},
            {QStringLiteral("C:\\Games\\big.exe"), kLargeSha1, kRecorded.addSecs(-60), 40000000, QString(), false},
            {QStringLiteral("C:\\Windows\\System32\\drivers\\RTCore64.sys"), kDriverSha1, kRecorded.addSecs(-120),
             14024, QStringLiteral("Micro-Star"), true}};
}

bool writeHive(const QString &path, const QByteArray &hive)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(hive) == hive.size();
}
} // namespace

void AmcacheSourceTest::layouts_data()
{
    QTest::addColumn<bool>("inventory");
    QTest::addColumn<QString>("layouts");
    QTest::addColumn<int>("count");
    QTest::newRow("Windows 10 1709 and later") << true << "InventoryApplicationFile" << 3;
    QTest::newRow("older Root\\File") << false << "File" << 2;
}

void AmcacheSourceTest::layouts()
{
    QFETCH(bool, inventory);
    QFETCH(QString, layouts);
    QFETCH(int, count);
    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("Amcache.hve"));
    QVERIFY(writeHive(path, amcacheHive(fixtureFiles(), inventory)));
    Amcache amcache;
    QString reason, detail;
    QVERIFY2(readAmcache(path, amcache, reason, &detail), qPrintable(reason + QLatin1Char(' ') + detail));
    QCOMPARE(amcache.layouts, layouts);
    QCOMPARE(amcache.entries.size(), count);
    QVERIFY(!amcache.cut && !amcache.unflushed);
    const AmcacheEntry &loader = amcache.entries.first();
    // The newer layout keeps the path in lower case.
    QCOMPARE(loader.path.toLower(), QStringLiteral("c:\\users\\p\\desktop\\loader.exe"));
    QCOMPARE(loader.sha1, kLoaderSha1);
    QCOMPARE(loader.recorded, kRecorded);
    QCOMPARE(loader.size, 4096);
    QCOMPARE(loader.publisher, inventory ? QStringLiteral("<b>Vendor</b>") : QString());
    QCOMPARE(loader.modified, inventory ? QDateTime() : kRecorded.addDays(-1));
    if (inventory) {
        const AmcacheEntry &driver = amcache.entries.last();
        QVERIFY(driver.driver);
        QCOMPARE(driver.path, QStringLiteral("c:\\windows\\system32\\drivers\\rtcore64.sys"));
        QCOMPARE(driver.sha1, kDriverSha1);
        QCOMPARE(driver.driverSigned, 1);
        QCOMPARE(driver.publisher, QStringLiteral("Micro-Star"));
    }
}

void AmcacheSourceTest::damaged_data()
{
    QTest::addColumn<QByteArray>("hive");
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("unflushed");
    const QByteArray hive = amcacheHive(fixtureFiles());
    QTest::newRow("not a hive") << QByteArray(8192, 'x') << false << false;
    QTest::newRow("base block only") << hive.left(4096) << false << false;
    QTest::newRow("unflushed") << unflushedHive(hive) << true << true;
}

void AmcacheSourceTest::damaged()
{
    QFETCH(QByteArray, hive);
    QFETCH(bool, read);
    QFETCH(bool, unflushed);
    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("Amcache.hve"));
    QVERIFY(writeHive(path, hive));
    Amcache amcache;
    QString reason;
    QCOMPARE(readAmcache(path, amcache, reason), read);
    QCOMPARE(amcache.unflushed, unflushed);
    QCOMPARE(reason, read ? QString() : QStringLiteral("не файл реестра или повреждён"));
}

// The rows name what Amcache recorded as a record, not a run; a rule's SHA-1 matches the small file
// but not the one past 30 MiB, whose recorded SHA-1 covers its start only; the list names the driver.
void AmcacheSourceTest::rowsMatchedBySha1()
{
    QTemporaryDir temp;
    ScopedEnvironment environment;
    QVERIFY(QDir(temp.path()).mkpath(QStringLiteral("Windows/AppCompat/Programs")));
    const QString hive = temp.filePath(QStringLiteral("Windows/AppCompat/Programs/Amcache.hve"));
    environment.set("VIGILOR_AMCACHE", hive);
    TraceMachine machine;
    machine.windowsFolder = temp.filePath(QStringLiteral("Windows"));
    machine.now = kRecorded.addDays(1);

    // No hive where Windows keeps one: removed, or never written.
    QVERIFY(collectTraces(machine, {}, {}, false)
                .notices.contains(QStringLiteral("Amcache нет: нет файла %1").arg(QDir::toNativeSeparators(hive))));

    QVERIFY(writeHive(hive, amcacheHive(fixtureFiles())));
    DetectionRule rule;
    rule.desc = QStringLiteral("Loader");
    rule.sha1 = QStringList{kLoaderSha1, kLargeSha1};
    TraceCollection collection = collectTraces(machine, {rule}, {}, false);
    const DriverList list = DriverList::fromJson(QJsonObject{
        {QStringLiteral("drivers"), QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("RTCore64.sys")},
                                                           {QStringLiteral("category"), QStringLiteral("vulnerable")},
                                                           {QStringLiteral("sha1"), QJsonArray{kDriverSha1}}}}}});
    matchListedDrivers(collection.rows, list);
    QVector<TraceRow> rows;
    for (const TraceRow &row : qAsConst(collection.rows)) {
        if (row.source == QLatin1String("Amcache"))
            rows.append(row);
    }
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).timeKind, TraceTimeKind::Recorded);
    QCOMPARE(rows.at(0).time, kRecorded);
    QCOMPARE(rows.at(0).state, TraceState::Deleted);
    QVERIFY(rows.at(0).recordedFacts.contains(QStringLiteral("Издатель: <b>Vendor</b>")));
    QCOMPARE(rows.at(0).ruleDescription, QStringLiteral("Loader"));
    QVERIFY(!rows.at(1).matched);
    QVERIFY(rows.at(2).matched);
    QCOMPARE(rows.at(2).ruleLevel, 0);
    QCOMPARE(rows.at(2).ruleDescription, QStringLiteral("Драйвер из списка уязвимых: RTCore64.sys"));
}

// The raw route reads a file by its path on an NTFS volume; a volume image stands in for "\\.\C:".
void AmcacheSourceTest::copyFromNtfsImage()
{
    const QString mkntfs = QStandardPaths::findExecutable(QStringLiteral("mkntfs"), {"/sbin", "/usr/sbin"});
    if (mkntfs.isEmpty())
        QSKIP("no mkntfs here (ntfs-3g)");
    QTemporaryDir temp;
    const QString image = temp.filePath(QStringLiteral("volume.img"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 << 20));
    file.close();
    QCOMPARE(QProcess::execute(mkntfs, {"-F", "-f", "-q", image}), 0);
    QBuffer copy;
    copy.open(QIODevice::WriteOnly);
    QString why;
    // $UpCase: 128 KiB, on every NTFS volume.
    QCOMPARE(platform::copyFromNtfsVolume(image, QStringLiteral("\\$UpCase"), copy, 1 << 20, why),
             platform::ReadEnd::Whole);
    QCOMPARE(copy.size(), 131072);
    QCOMPARE(platform::copyFromNtfsVolume(image, QStringLiteral("\\$UpCase"), copy, 4096, why),
             platform::ReadEnd::TooLarge);
    QCOMPARE(platform::copyFromNtfsVolume(image, QStringLiteral("\\Windows\\Amcache.hve"), copy, 1 << 20, why),
             platform::ReadEnd::NotOpened);
    QVERIFY2(why.startsWith(QStringLiteral("нет файла \\Windows\\Amcache.hve на томе")), qPrintable(why));
    QCOMPARE(platform::copyFromNtfsVolume(temp.filePath(QStringLiteral("none")), QStringLiteral("\\$UpCase"), copy,
                                          1 << 20, why),
             platform::ReadEnd::NotOpened);
}

VIGILOR_TEST_MAIN(AmcacheSourceTest)
#include "AmcacheSourceTest.moc"
