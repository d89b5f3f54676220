#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/ExecutionTraces.h"
#include "traces/PrefetchReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

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
    void volumesBecomeDrives();
    void gameLoadsFromElsewhere();

private:
    QTemporaryDir scratch;
};

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);

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

void PrefetchSourceTest::volumesBecomeDrives()
{
    const QVector<QPair<QString, quint32>> volumes = {{QStringLiteral("\\VOLUME{01d5-1a2b3c4d}"), 0x1A2B3C4D},
                                                      {QStringLiteral("\\VOLUME{01d6-0000abcd}"), 0xABCD}};
    const QHash<quint32, QString> drives = {{0x1A2B3C4D, QStringLiteral("C:")}};
    QCOMPARE(prefetchDrivePath(QStringLiteral("\\volume{01d5-1a2b3c4d}\\Games\\x.dll"), volumes, drives),
             QStringLiteral("C:\\Games\\x.dll"));
    // A stick that is gone keeps its volume's name.
    QCOMPARE(prefetchDrivePath(QStringLiteral("\\VOLUME{01d6-0000abcd}\\x.dll"), volumes, drives),
             QStringLiteral("\\VOLUME{01d6-0000abcd}\\x.dll"));
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

VIGILOR_GUILESS_TEST_MAIN(PrefetchSourceTest)
#include "PrefetchSourceTest.moc"
