#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/ExecutionTraces.h"
#include "traces/PrefetchReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <filesystem>

// Prefetch files written here from the published layout of each format (compressed as Windows 10 and
// later write it), read through the library (format 31 by our own reading of its layout), and the
// Prefetch folder as the collection reads it.
class PrefetchSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void readsEachFormat_data();
    void readsEachFormat();
    void damagedFilesAreNamed_data();
    void damagedFilesAreNamed();
    void volumesBecomeDrives_data();
    void volumesBecomeDrives();
    void expansionIsBounded_data();
    void expansionIsBounded();
    void gameLoadsFromElsewhere();
    void oneFileOneReadWhateverLinksLeadToIt();

private:
    QTemporaryDir scratch;
};

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);

QStringList repeated(const QString &text, int times)
{
    QStringList list;
    for (int i = 0; i < times; ++i)
        list.append(text);
    return list;
}

void putNumber(QByteArray &data, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, data.data() + offset);
}
} // namespace

void PrefetchSourceTest::readsEachFormat_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<int>("runTimes");
    QTest::newRow("17 (XP)") << 17u << false << 1;
    QTest::newRow("23 (7)") << 23u << false << 1;
    QTest::newRow("30 (10, compressed)") << 30u << true << 3;
    QTest::newRow("31 (11, compressed)") << 31u << true << 3;
}

void PrefetchSourceTest::readsEachFormat()
{
    QFETCH(quint32, format);
    QFETCH(bool, compress);
    QFETCH(int, runTimes);
    const QStringList files = {QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\GAMES\\CSGO.EXE"),
                               QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\USERS\\P\\HOOK.DLL")};
    const QByteArray plain = prefetchFile(kRun, format, QStringLiteral("CSGO.EXE"), 3, files);
    QString error;
    const std::optional<PrefetchRecord> record =
        readPrefetch(compress ? compressedPrefetch(plain) : plain, scratch.path(), error);
    QVERIFY2(record, qPrintable(error));
    QCOMPARE(record->format, format);
    QCOMPARE(record->executable, QStringLiteral("CSGO.EXE"));
    QCOMPARE(record->runCount, 3u);
    QCOMPARE(record->runTimes.size(), runTimes);
    QCOMPARE(record->runTimes.first(), kRun);
    QCOMPARE(record->files, files);
    QCOMPARE(record->volumes.size(), 1);
    QCOMPARE(record->volumes.first().second, 0x1A2B3C4Du);
    QCOMPARE(QDir(scratch.path()).entryList(QDir::Files), QStringList()); // the library's copy is gone
}

void PrefetchSourceTest::damagedFilesAreNamed_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray whole = prefetchFile(kRun, 30, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    QTest::newRow("no Prefetch file") << QByteArray("MZ\x90\0", 4);
    QTest::newRow("truncated") << whole.left(200);
    QTest::newRow("compressed, truncated") << compressedPrefetch(whole).left(300);
    QTest::newRow("compressed, claims 1 GiB") << QByteArray("MAM\x04\0\0\0\x40", 8) + QByteArray(300, 'x');
    QByteArray names = prefetchFile(kRun, 31, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    putNumber(names, 104, 0x7FFFFFFF);
    QTest::newRow("format 31, names past the end") << compressedPrefetch(names);
}

void PrefetchSourceTest::damagedFilesAreNamed()
{
    QFETCH(QByteArray, data);
    QString error;
    QVERIFY(!readPrefetch(data, scratch.path(), error));
    QVERIFY(!error.isEmpty());
}

void PrefetchSourceTest::volumesBecomeDrives_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drivePath");
    QTest::newRow("volume GUID, any case") << "\\volume{01d5-1a2b3c4d}\\Games\\x.dll"
                                           << "C:\\Games\\x.dll";
    // A stick that is gone keeps its volume's name.
    QTest::newRow("unknown serial") << "\\VOLUME{01d6-0000abcd}\\x.dll"
                                    << "\\VOLUME{01d6-0000abcd}\\x.dll";
    // Windows 7's device names: Volume1 is not the start of Volume10.
    QTest::newRow("device 10 beside device 1") << "\\DEVICE\\HARDDISKVOLUME10\\LOADER\\CHEAT.DLL"
                                               << "E:\\LOADER\\CHEAT.DLL";
    QTest::newRow("device 1") << "\\DEVICE\\HARDDISKVOLUME1\\X.DLL"
                              << "C:\\X.DLL";
}

void PrefetchSourceTest::volumesBecomeDrives()
{
    QFETCH(QString, path);
    QFETCH(QString, drivePath);
    const QVector<QPair<QString, quint32>> volumes = {{QStringLiteral("\\VOLUME{01d5-1a2b3c4d}"), 0x1A2B3C4D},
                                                      {QStringLiteral("\\VOLUME{01d6-0000abcd}"), 0xABCD},
                                                      {QStringLiteral("\\DEVICE\\HARDDISKVOLUME1"), 1},
                                                      {QStringLiteral("\\DEVICE\\HARDDISKVOLUME10"), 10}};
    const QHash<quint32, QString> drives = {
        {0x1A2B3C4D, QStringLiteral("C:")}, {1, QStringLiteral("C:")}, {10, QStringLiteral("E:")}};
    QCOMPARE(prefetchDrivePath(path, volumes, drives), drivePath);
}

// What a crafted file's few bytes expand into is bounded: names, volumes and the length of each.
void PrefetchSourceTest::expansionIsBounded_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("filesCut");
    QTest::addColumn<bool>("volumesCut");
    QStringList many;
    for (int i = 0; i < kLargestPrefetchNames + 100; ++i)
        many.append(QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\F%1.DLL").arg(i));
    for (const quint32 format : {30u, 31u})
        QTest::newRow(qPrintable(QStringLiteral("%1 names, format %2").arg(many.size()).arg(format)))
            << prefetchFile(kRun, format, QStringLiteral("CSGO.EXE"), 1, many) << kLargestPrefetchNames << true
            << false;
    const QStringList same = repeated(QStringLiteral("C:\\a"), 20000);
    QTest::newRow("one name 20,000 times")
        << prefetchFile(kRun, 31, QStringLiteral("CSGO.EXE"), 1, same) << 1 << false << false;
    // 1,000 volumes whose device paths all point at one run of 100,000 characters without a zero.
    QByteArray volumes = prefetchFile(kRun, 31, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    const int table = volumes.size();
    constexpr int kVolumes = 1000, kEntry = 96;
    volumes += QByteArray(kVolumes * kEntry, '\0');
    for (int v = 0; v < kVolumes; ++v) {
        putNumber(volumes, table + v * kEntry, kVolumes * kEntry);
        putNumber(volumes, table + v * kEntry + 4, 100000);
    }
    volumes += QByteArray(200000, 'A');
    putNumber(volumes, 108, static_cast<quint32>(table));
    putNumber(volumes, 112, kVolumes);
    QTest::newRow("1,000 volumes of one long path") << volumes << 1 << false << true;
}

void PrefetchSourceTest::expansionIsBounded()
{
    QFETCH(QByteArray, data);
    QFETCH(int, files);
    QFETCH(bool, filesCut);
    QFETCH(bool, volumesCut);
    QString error;
    const std::optional<PrefetchRecord> record = readPrefetch(data, scratch.path(), error);
    QVERIFY2(record, qPrintable(error));
    QCOMPARE(record->files.size(), files);
    QCOMPARE(record->filesCut, filesCut);
    QCOMPARE(record->volumesCut, volumesCut);
    QVERIFY(record->volumes.size() <= kLargestPrefetchVolumes);
    for (const auto &volume : record->volumes)
        QVERIFY(volume.first.size() <= kLongestVolumePath);
}

// The game's own Prefetch file names a library it loaded from the user's folder: a red sign, and the
// library is hashed and matched under the game's row.
void PrefetchSourceTest::gameLoadsFromElsewhere()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const QString hook = root.filePath(QStringLiteral("Users/p/hook.dll"));
    QVERIFY(writeFile(hook, "hook"));
    const QString game = root.filePath(QStringLiteral("Games/csgo"));
    const QStringList files = {game + QStringLiteral("/csgo.exe"), root.filePath(QStringLiteral("Windows/ntdll.dll")),
                               hook, QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\$MFT")};
    QVERIFY(writeFile(root.filePath(QStringLiteral("Windows/Prefetch/CSGO.EXE-12345678.pf")),
                      compressedPrefetch(prefetchFile(kRun, 30, QStringLiteral("CSGO.EXE"), 2, files))));
    QVERIFY(writeFile(root.filePath(QStringLiteral("Windows/Prefetch/TOOL.EXE-12345678.pf")),
                      compressedPrefetch(prefetchFile(kRun, 30, QStringLiteral("TOOL.EXE"), 1, {hook}))));
    TraceMachine machine{root.filePath(QStringLiteral("Windows")),
                         root.filePath(QStringLiteral("Roaming")),
                         kRun.addDays(-1),
                         kRun.addDays(1),
                         {},
                         {game, root.filePath(QStringLiteral("Windows"))},
                         {},
                         {}};
    DetectionRule rule;
    rule.traces = true;
    rule.filename = QStringLiteral("^hook\\.dll$");
    rule.desc = QStringLiteral("Hook");
    rule.level = 1;
    const TraceCollection collection = collectTraces(machine, {rule});

    QCOMPARE(collection.signs.filter(QStringLiteral("Игра загружала")),
             QStringList{QStringLiteral("Игра загружала файл вне своих папок: %1 (CSGO.EXE-12345678.pf)").arg(hook)});
    QCOMPARE(collection.gameLoaded, QStringList{hook});
    int prefetchRows = 0;
    for (const TraceRow &row : collection.rows) {
        if (row.source != QLatin1String("Prefetch"))
            continue;
        ++prefetchRows;
        QVERIFY(row.matched);
        QCOMPARE(row.matchedFile, hook);
        QCOMPARE(row.time, kRun);
        const auto loaded = std::find_if(row.loaded.cbegin(), row.loaded.cend(),
                                         [&hook](const TraceFile &file) { return file.path == hook; });
        QVERIFY(loaded != row.loaded.cend());
        QCOMPARE(loaded->sha256.size(), 64);
    }
    QCOMPARE(prefetchRows, 2);
}

// The game's Prefetch file under four more names (hard links) naming one library outside its folders
// a thousand times and 150 others once: one row, one sign a library up to a hundred and one for the
// rest, the links cost nothing.
void PrefetchSourceTest::oneFileOneReadWhateverLinksLeadToIt()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const QString hook = root.filePath(QStringLiteral("Users/p/hook.dll"));
    const QString prefetch = root.filePath(QStringLiteral("Windows/Prefetch/"));
    QStringList others; // 150 more libraries from elsewhere: signs of their own for the first 99
    for (int i = 0; i < 150; ++i)
        others.append(root.filePath(QStringLiteral("Users/p/other-%1.dll").arg(i)));
    QVERIFY(writeFile(prefetch + QStringLiteral("CSGO.EXE-12345678.pf"),
                      prefetchFile(kRun, 31, QStringLiteral("CSGO.EXE"), 1, repeated(hook, 1000) + others)));
    for (int i = 0; i < 4; ++i) {
        std::error_code failed;
        std::filesystem::create_hard_link(
            QFile::encodeName(prefetch + QStringLiteral("CSGO.EXE-12345678.pf")).constData(),
            QFile::encodeName(prefetch + QStringLiteral("CSGO.EXE-0000000%1.pf").arg(i)).constData(), failed);
        QVERIFY2(!failed, failed.message().c_str());
    }
    const TraceMachine machine{
        root.filePath(QStringLiteral("Windows")), QString(), kRun.addDays(-1), kRun.addDays(1), {}, {}, {}, {}};
    const TraceCollection collection = collectTraces(machine, {});
    int rows = 0;
    for (const TraceRow &row : collection.rows)
        rows += row.source == QLatin1String("Prefetch") ? 1 : 0;
    QCOMPARE(rows, 1);
    QCOMPARE(collection.signs.filter(QStringLiteral("Игра загружала файл")).size(), 100);
    QCOMPARE(collection.signs.filter(QStringLiteral("Игра загружала ещё")),
             QStringList{QStringLiteral("Игра загружала ещё 51 файлов вне своих папок (CSGO.EXE-00000000.pf)")});
    QCOMPARE(collection.gameLoaded.size(), 151);
    QCOMPARE(collection.gameLoaded.first(), hook);
}

VIGILOR_GUILESS_TEST_MAIN(PrefetchSourceTest)
#include "PrefetchSourceTest.moc"
