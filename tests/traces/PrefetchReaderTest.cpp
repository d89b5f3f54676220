#include "traces/PrefetchReader.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "traces/ExecutionTraces.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// Prefetch files written here from the published layout of each format, compressed as Windows 10 and
// later write them, read through the library (and for format 31 by our own reading of the layout).
class PrefetchReaderTest : public QObject
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

void putTime(QByteArray &data, int offset, const QDateTime &time)
{
    const quint64 ticks = quint64(time.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
    qToLittleEndian<quint64>(ticks, data.data() + offset);
}

QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Where each format keeps its fields: the file information's size, the offset of the first run time,
// how many it keeps, the run count's offset, and the sizes of a metrics and a volume entry.
struct Layout
{
    int informationSize;
    int runTimes;
    int runTimeCount;
    int runCount;
    int metricsEntry;
    int volumeEntry;
};

Layout layoutOf(quint32 format)
{
    switch (format) {
    case 17:
        return {68, 0x78, 1, 0x90, 20, 40};
    case 23:
        return {156, 0x80, 1, 0x98, 32, 104};
    default: // 26, 30 and 31 (the longer variant, its metrics at 0x130)
        return {220, 0x80, 8, 0xD0, 32, 96};
    }
}

// A Prefetch file of `format` for `executable`, run `runs` times (the last at kRun, each earlier one
// an hour before), that loaded `files` from one volume `device` of serial `serial`.
QByteArray prefetchFile(quint32 format, const QString &executable, int runs, const QStringList &files,
                        const QString &device = QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}"),
                        quint32 serial = 0x1A2B3C4D)
{
    const Layout layout = layoutOf(format);
    QByteArray names;
    QVector<QPair<int, int>> nameSpans;
    for (const QString &file : files) {
        nameSpans.append({names.size(), static_cast<int>(file.size())});
        names += utf16(file) + QByteArray(2, '\0');
    }
    const int metrics = 84 + layout.informationSize;
    const int chains = metrics + layout.metricsEntry * static_cast<int>(files.size());
    const int strings = chains;
    const int volumes = strings + names.size();
    const QByteArray devicePath = utf16(device) + QByteArray(2, '\0');
    const int volumesSize = layout.volumeEntry + devicePath.size();
    QByteArray data(volumes + volumesSize, '\0');

    putNumber(data, 0, format);
    data.replace(4, 4, "SCCA");
    putNumber(data, 8, format == 17 ? 0x0F : 0x11);
    putNumber(data, 12, static_cast<quint32>(data.size()));
    data.replace(16, static_cast<int>(executable.size()) * 2, utf16(executable));
    putNumber(data, 76, 0x1A2B3C4D);
    putNumber(data, 84, static_cast<quint32>(metrics));
    putNumber(data, 88, static_cast<quint32>(files.size()));
    putNumber(data, 92, static_cast<quint32>(chains));
    putNumber(data, 100, static_cast<quint32>(strings));
    putNumber(data, 104, static_cast<quint32>(names.size()));
    putNumber(data, 108, static_cast<quint32>(volumes));
    putNumber(data, 112, 1);
    putNumber(data, 116, static_cast<quint32>(volumesSize));
    for (int i = 0; i < std::min(runs, layout.runTimeCount); ++i)
        putTime(data, layout.runTimes + 8 * i, kRun.addSecs(-3600 * i));
    putNumber(data, layout.runCount, static_cast<quint32>(runs));
    for (int i = 0; i < nameSpans.size(); ++i) {
        const int entry = metrics + i * layout.metricsEntry;
        const int at = layout.metricsEntry == 20 ? 8 : 12; // the name's offset, then its length
        putNumber(data, entry + at, static_cast<quint32>(nameSpans.at(i).first));
        putNumber(data, entry + at + 4, static_cast<quint32>(nameSpans.at(i).second));
    }
    data.replace(strings, names.size(), names);
    putNumber(data, volumes, static_cast<quint32>(layout.volumeEntry));
    putNumber(data, volumes + 4, static_cast<quint32>(device.size()));
    putTime(data, volumes + 8, kRun.addYears(-1));
    putNumber(data, volumes + 16, serial);
    data.replace(volumes + layout.volumeEntry, devicePath.size(), devicePath);
    return data;
}

// `plain` compressed as Windows does ("MAM\x04", Xpress Huffman), with literals only: every one of the
// 512 symbols gets a 9-bit code, so symbol n's code is n itself. One block: at most 64 KiB.
QByteArray compressed(const QByteArray &plain)
{
    QByteArray out("MAM\x04", 4);
    out += QByteArray(4, '\0');
    putNumber(out, 4, static_cast<quint32>(plain.size()));
    out += QByteArray(256, '\x99');
    quint32 bits = 0;
    int count = 0;
    QByteArray stream;
    const auto flushWord = [&stream](quint16 word) {
        stream += static_cast<char>(word & 0xFF);
        stream += static_cast<char>(word >> 8);
    };
    for (const char byte : plain) {
        bits = (bits << 9) | static_cast<quint8>(byte);
        count += 9;
        while (count >= 16) {
            flushWord(static_cast<quint16>(bits >> (count - 16)));
            count -= 16;
        }
    }
    if (count > 0)
        flushWord(static_cast<quint16>(bits << (16 - count)));
    return out + stream + QByteArray(4, '\0');
}
} // namespace

void PrefetchReaderTest::readsEachFormat_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<int>("runTimes");
    QTest::newRow("17 (XP)") << 17u << false << 1;
    QTest::newRow("23 (7)") << 23u << false << 1;
    QTest::newRow("30 (10, compressed)") << 30u << true << 3;
    QTest::newRow("31 (11, compressed)") << 31u << true << 3;
}

void PrefetchReaderTest::readsEachFormat()
{
    QFETCH(quint32, format);
    QFETCH(bool, compress);
    QFETCH(int, runTimes);
    const QStringList files = {QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\GAMES\\CSGO.EXE"),
                               QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\USERS\\P\\HOOK.DLL")};
    const QByteArray plain = prefetchFile(format, QStringLiteral("CSGO.EXE"), 3, files);
    QString error;
    const std::optional<PrefetchRecord> record =
        readPrefetch(compress ? compressed(plain) : plain, scratch.path(), error);
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

void PrefetchReaderTest::damagedFilesAreNamed_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray whole = prefetchFile(30, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    QTest::newRow("no Prefetch file") << QByteArray("MZ\x90\0", 4);
    QTest::newRow("truncated") << whole.left(200);
    QTest::newRow("compressed, truncated") << compressed(whole).left(300);
    QTest::newRow("compressed, claims 1 GiB") << QByteArray("MAM\x04\0\0\0\x40", 8) + QByteArray(300, 'x');
    QByteArray names = prefetchFile(31, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    putNumber(names, 104, 0x7FFFFFFF);
    QTest::newRow("format 31, names past the end") << compressed(names);
}

void PrefetchReaderTest::damagedFilesAreNamed()
{
    QFETCH(QByteArray, data);
    QString error;
    QVERIFY(!readPrefetch(data, scratch.path(), error));
    QVERIFY(!error.isEmpty());
}

void PrefetchReaderTest::volumesBecomeDrives()
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
void PrefetchReaderTest::gameLoadsFromElsewhere()
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
                      compressed(prefetchFile(30, QStringLiteral("CSGO.EXE"), 2, files))));
    QVERIFY(writeFile(root.filePath(QStringLiteral("Windows/Prefetch/TOOL.EXE-12345678.pf")),
                      compressed(prefetchFile(30, QStringLiteral("TOOL.EXE"), 1, {hook}))));
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

VIGILOR_GUILESS_TEST_MAIN(PrefetchReaderTest)
#include "PrefetchReaderTest.moc"
