#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/EventLogReader.h"
#include "traces/ExecutionTraces.h"
#include "traces/PrefetchReader.h"
#include "traces/ShortcutReader.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// Prefetch files and shortcuts written here from the published layout of each format (Prefetch
// compressed as Windows 10 and later write it), read through the libraries (and Prefetch format 31
// by our own reading of its layout).
class TraceParsersTest : public QObject
{
    Q_OBJECT

private slots:
    void readsEachFormat_data();
    void readsEachFormat();
    void damagedFilesAreNamed_data();
    void damagedFilesAreNamed();
    void volumesBecomeDrives();
    void gameLoadsFromElsewhere();
    void shortcuts_data();
    void shortcuts();
    void eventLog();
    void changeJournal();
    void serviceImages_data();
    void serviceImages();

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

void TraceParsersTest::readsEachFormat_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<int>("runTimes");
    QTest::newRow("17 (XP)") << 17u << false << 1;
    QTest::newRow("23 (7)") << 23u << false << 1;
    QTest::newRow("30 (10, compressed)") << 30u << true << 3;
    QTest::newRow("31 (11, compressed)") << 31u << true << 3;
}

void TraceParsersTest::readsEachFormat()
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

void TraceParsersTest::damagedFilesAreNamed_data()
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

void TraceParsersTest::damagedFilesAreNamed()
{
    QFETCH(QByteArray, data);
    QString error;
    QVERIFY(!readPrefetch(data, scratch.path(), error));
    QVERIFY(!error.isEmpty());
}

void TraceParsersTest::volumesBecomeDrives()
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
void TraceParsersTest::gameLoadsFromElsewhere()
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

void TraceParsersTest::shortcuts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("medium");
    QTest::addColumn<bool>("read");
    QTest::newRow("fixed") << shortcutFile("C:\\Games\\x.exe", 3) << "C:\\Games\\x.exe" << int(TraceMedium::Fixed)
                           << true;
    QTest::newRow("removable") << shortcutFile("E:\\loader.exe", 2) << "E:\\loader.exe" << int(TraceMedium::Removable)
                               << true;
    QTest::newRow("CD") << shortcutFile("D:\\setup.exe", 5) << "D:\\setup.exe" << int(TraceMedium::Disc) << true;
    QTest::newRow("network") << shortcutFile({}, 0, "\\\\SERVER\\SHARE", "aim.exe") << "\\\\SERVER\\SHARE\\aim.exe"
                             << int(TraceMedium::Network) << true;
    QTest::newRow("no LinkInfo") << shortcutFile({}, 0) << QString() << int(TraceMedium::Fixed) << true;
    QTest::newRow("truncated") << shortcutFile("C:\\x.exe", 3).left(90) << QString() << 0 << false;
    QTest::newRow("no shortcut") << QByteArray("MZ\x90\0", 4) << QString() << 0 << false;
}

void TraceParsersTest::shortcuts()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, path);
    QFETCH(int, medium);
    QFETCH(bool, read);
    QString error;
    const std::optional<ShortcutTarget> target = readShortcut(data, scratch.path(), error);
    QVERIFY2(bool(target) == read, qPrintable(error));
    QCOMPARE(error.isEmpty(), read);
    if (!read)
        return;
    QCOMPARE(target->path, path);
    QCOMPARE(int(target->medium), medium);
}

// One event as `wevtutil qe … /f:xml` writes it.
QByteArray loggedEvent(int id, const char *channel, const QDateTime &time, const QByteArray &body)
{
    return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
           "Name='x'/><EventID>" +
           QByteArray::number(id) + "</EventID><TimeCreated SystemTime='" +
           time.toString(Qt::ISODateWithMs).toLatin1() + "'/><Channel>" + channel + "</Channel></System>" + body +
           "</Event>";
}

// A player's covered tracks in the System and Security logs, read through the stand-in: each event
// its sign or row, a stale one nothing, and a log that breaks off keeps what came before and is named.
void TraceParsersTest::eventLog()
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
    QVERIFY2(collection.notRead.join(' ').contains(QStringLiteral("Журнал событий System: ")),
             qPrintable(collection.notRead.join(' ')));
}

// The change journal through the stand-in: a loader created, a tool renamed, a library deleted, in
// records of both versions; a file of no interest, a record of last month and a cut-off record are
// not rows, and a journal made after Windows started is a sign.
void TraceParsersTest::changeJournal()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    constexpr quint32 kCreate = 0x100, kDelete = 0x200, kOld = 0x1000, kNew = 0x2000, kClose = 0x80000000;
    QByteArray journal(8, '\0');
    qToLittleEndian<quint64>(quint64(kRun.addSecs(-600).toMSecsSinceEpoch() + 11644473600000LL) * 10000,
                             journal.data());
    journal += usnRecord(2, 1, 5, kRun, kCreate, QStringLiteral("loader.exe")) +
               usnRecord(2, 1, 5, kRun, kCreate | kClose, QStringLiteral("loader.exe")) +
               usnRecord(3, 2, 5, kRun, kOld, QStringLiteral("aim.exe")) +
               usnRecord(3, 2, 5, kRun, kNew, QStringLiteral("notes.txt")) +
               usnRecord(2, 3, 5, kRun, kDelete | kClose, QStringLiteral("hook.dll")) +
               usnRecord(2, 4, 5, kRun, kCreate | kClose, QStringLiteral("readme.txt")) +
               usnRecord(2, 6, 5, kRun.addDays(-30), kDelete | kClose, QStringLiteral("old.exe")) +
               usnRecord(2, 7, 5, kRun, kDelete | kClose, QStringLiteral("cut.exe")).left(40);
    const QString file = root.filePath(QStringLiteral("journal.bin"));
    QVERIFY(writeFile(file, journal));
    environment.set("VIGILOR_USN_JOURNAL", file);
    TraceMachine machine{QString(), QString(), kRun.addSecs(-3600),     kRun.addDays(1), {},
                         {},        {},        {QStringLiteral("C:\\")}};
    const TraceCollection collection = collectTraces(machine, {});

    QStringList rows;
    for (const TraceRow &row : collection.rows) {
        if (row.source == QLatin1String("USN"))
            rows.append(row.path + QLatin1Char(' ') + traceStateName(row.state) + QLatin1Char(' ') + row.renamedTo);
    }
    QCOMPARE(rows, (QStringList{QStringLiteral("loader.exe created "), QStringLiteral("aim.exe renamed notes.txt"),
                                QStringLiteral("hook.dll deleted ")}));
    QCOMPARE(collection.signs.filter(QStringLiteral("USN")),
             QStringList{QStringLiteral("Журнал USN создан заново: C:\\ (2026-12-01 09:20:15 UTC)")});
    QVERIFY2(collection.notRead.join(' ').contains(QStringLiteral("запись повреждена")),
             qPrintable(collection.notRead.join(' ')));
}

void TraceParsersTest::serviceImages_data()
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

void TraceParsersTest::serviceImages()
{
    QFETCH(QString, imagePath);
    QFETCH(QString, file);
    QCOMPARE(serviceImageFile(imagePath, QStringLiteral("C:\\Windows")), file);
}

VIGILOR_GUILESS_TEST_MAIN(TraceParsersTest)
#include "TraceParsersTest.moc"
