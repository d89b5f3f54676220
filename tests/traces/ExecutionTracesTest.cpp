#include "traces/ExecutionTraces.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "platform/System.h"
#include "traces/TraceDecoders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QtEndian>

#include <ctime>

// Execution traces read from a registry fixture and folders of our own: every source, the states,
// the matching, the signs, and nothing written.
class ExecutionTracesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decoders();
    void pcaEncodings_data();
    void pcaEncodings();
    void pcaTimeInTheExaminersSummerGap();
    void sharesAndDevicesAreNeverAsked();
    void everySource_data();
    void everySource();
    void matchesByDigestAndByTraceName();
    void nothingIsWritten();
    void signs_data();
    void signs();
    void oversizedPcaAndManySpellingsOfOneFile();

private:
    TraceMachine machine(const QString &root) const;
    QByteArray registryText(const QString &extra = QString()) const;
    static QByteArray userAssistData(int runs, const QDateTime &time);

    QTemporaryDir dir;
    ScopedEnvironment environment;
    QString present;  // a renamed loader that is there
    QString missing;  // a program that was deleted
    QString registry; // the fixture's registry file
    const QDateTime boot = QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
    const QDateTime ran = QDateTime(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
    TraceCollection collected;
};

namespace {
const char kCheatBytes[] = "MZ renamed aimbot build 7";

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QString(path).replace(QLatin1Char('\\'), QStringLiteral("\\\\")) + QLatin1Char('"');
}

QList<DetectionRule> rules()
{
    DetectionRule byDigest;
    byDigest.desc = QStringLiteral("Aimbot (SHA-256)");
    byDigest.level = 1;
    byDigest.filename = QStringLiteral("^never$");
    byDigest.sha256 =
        QStringList{QString::fromLatin1(QCryptographicHash::hash(kCheatBytes, QCryptographicHash::Sha256).toHex())};
    DetectionRule byName;
    byName.desc = QStringLiteral("Wallhack");
    byName.filename = QStringLiteral("wall");
    byName.traces = true;
    DetectionRule plain; // no new members: the traces are none of its business
    plain.desc = QStringLiteral("Old rule");
    plain.filename = QStringLiteral("tool");
    return {plain, byDigest, byName};
}
} // namespace

// A Recycle Bin "$I" file of `version` (1: the path in 260 characters; 2: its length first).
QByteArray recycleEntry(quint64 version, const QString &path, const QByteArray &time)
{
    QByteArray data(8, '\0');
    qToLittleEndian<quint64>(version, data.data());
    data += QByteArray(8, '\0') + time;
    QByteArray name(reinterpret_cast<const char *>(path.utf16()), static_cast<int>(path.size()) * 2);
    if (version == 1)
        return data + name.leftJustified(520, '\0');
    QByteArray length(4, '\0');
    qToLittleEndian<quint32>(static_cast<quint32>(path.size() + 1), length.data());
    return data + length + name + QByteArray(2, '\0');
}

QByteArray ExecutionTracesTest::userAssistData(int runs, const QDateTime &time)
{
    QByteArray data(72, '\0');
    qToLittleEndian<quint32>(static_cast<quint32>(runs), data.data() + 4);
    data.replace(60, 8, fileTimeBytes(time));
    return data;
}

TraceMachine ExecutionTracesTest::machine(const QString &root) const
{
    return {root + QStringLiteral("/Windows"), root + QStringLiteral("/Roaming"), boot, boot.addDays(1), {}, {}, {},
            {root + QStringLiteral("/C")}};
}

QByteArray ExecutionTracesTest::registryText(const QString &extra) const
{
    const QString bam = QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\");
    const QString flags = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\");
    const QString ran16 = registryHex(fileTimeBytes(ran) + QByteArray(16, '\0'));
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[") + bam +
                   QStringLiteral("bam\\State\\UserSettings\\S-1-5-21-1001]\r\n");
    text += quoted(QStringLiteral("\\Device\\HarddiskVolume3\\Tools\\loader.exe")) + QLatin1Char('=') + ran16 + "\r\n";
    text += quoted(QDir::toNativeSeparators(present)) + QLatin1Char('=') + ran16 + "\r\n";
    text += quoted(QStringLiteral("Microsoft.Windows.Photos_8wekyb3d8bbwe")) + "=" + ran16 + "\r\n";
    text += QStringLiteral("\"Version\"=dword:00000001\r\n\"Short\"=hex:01,02,03\r\n");
    text += QLatin1Char('[') + bam + QStringLiteral("bam\\UserSettings\\S-1-5-21-1002]\r\n") +
            quoted(QDir::toNativeSeparators(missing)) + QLatin1Char('=') + ran16 + "\r\n";
    text += QLatin1Char('[') + bam + QStringLiteral("dam\\State\\UserSettings\\S-1-5-21-1001]\r\n") +
            quoted(QStringLiteral("C:\\Games\\overlay.exe")) + QLatin1Char('=') + ran16 + "\r\n";
    text += QStringLiteral("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
                           "{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}\\Count]\r\n");
    const QString cmd = QLatin1String(platform::knownFolder::kSystem) + QStringLiteral("\\cmd.exe");
    text += quoted(traces::rot13(cmd)) + QLatin1Char('=') + registryHex(userAssistData(5, ran)) + ",\\\r\n  00\r\n";
    text += quoted(traces::rot13(QStringLiteral("C:\\Games\\wallhack.exe"))) + "=" + registryHex(QByteArray(16, 1)) +
            "\r\n";
    text += quoted(traces::rot13(QStringLiteral("UEME_CTLSESSION"))) + "=" + registryHex(QByteArray(72, 1)) + "\r\n";
    text += QStringLiteral("[HKEY_CURRENT_USER\\") + flags + QStringLiteral("Compatibility Assistant\\Store]\r\n") +
            quoted(QStringLiteral("C:\\Users\\p\\Downloads\\inject.exe")) + "=hex:00\r\n";
    for (const char *hive : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"})
        text += QStringLiteral("[%1\\%2Layers]\r\n").arg(QLatin1String(hive), flags) +
                quoted(QStringLiteral("C:\\Old\\%1.exe").arg(QLatin1String(hive))) + "=\"~ RUNASADMIN\"\r\n";
    text += QStringLiteral("[HKEY_CURRENT_USER\\Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\"
                           "Shell\\MuiCache]\r\n\"LangID\"=hex:09,04\r\n") +
            quoted(QStringLiteral("C:\\Apps\\tool.exe.FriendlyAppName")) + "=\"Tool\"\r\n" +
            quoted(QStringLiteral("C:\\Apps\\tool.exe.ApplicationCompany")) + "=\"Vendor\"\r\n";
    return (text + extra).toUtf8();
}

void ExecutionTracesTest::initTestCase()
{
    const QString root = dir.filePath(QStringLiteral("machine"));
    present = dir.filePath(QStringLiteral("programs/notes-viewer.exe"));
    missing = dir.filePath(QStringLiteral("programs/gone.exe"));
    QVERIFY(writeFile(present, kCheatBytes));
    const QString windows = root + QStringLiteral("/Windows");
    for (const char *name : {"AIMBOT.EXE-1A2B3C4D.pf", "WALLHACK.EXE-00FF00FF.pf"}) {
        const QString path = windows + QStringLiteral("/Prefetch/") + QLatin1String(name);
        QVERIFY(writeFile(path, "MAM"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(ran.toLocalTime(), QFileDevice::FileModificationTime));
    }
    QVERIFY(writeFile(root + QStringLiteral("/Roaming/Microsoft/Windows/Recent/legit.cfg.lnk"), "L"));
    QVERIFY(writeFile(windows + QStringLiteral("/appcompat/pca/PcaAppLaunchDic.txt"),
                      "C:\\Temp\\spoofer.exe|2026-12-01 09:31:00.250\r\n"));
    const QString bin = root + QStringLiteral("/C/$Recycle.Bin/S-1-5-21-1001/");
    QVERIFY(writeFile(bin + QStringLiteral("$IAB12CD.exe"),
                      recycleEntry(2, QStringLiteral("C:\\Tools\\spoofer.exe"), fileTimeBytes(ran))));
    QVERIFY(writeFile(bin + QStringLiteral("$RAB12CD.exe"), kCheatBytes));
    QVERIFY(writeFile(bin + QStringLiteral("$IXY34ZW.dll"),
                      recycleEntry(1, QStringLiteral("C:\\Tools\\inject.dll"), fileTimeBytes(ran))));
    QVERIFY(writeFile(bin + QStringLiteral("$IBROKEN.exe"), recycleEntry(3, QStringLiteral("x"), QByteArray(8, 1))));
    registry = dir.filePath(QStringLiteral("registry.reg"));
    QVERIFY(useRegistry(environment, registry, registryText()));
    environment.set("SystemRoot", QStringLiteral("C:\\Windows"));
    collected = collectTraces(machine(root), rules());
}

void ExecutionTracesTest::decoders()
{
    QCOMPARE(traces::fileTime(fileTimeBytes(ran), 0), ran);
    QVERIFY(!traces::fileTime(QByteArray(8, '\0'), 0).isValid());
    // Past Windows' calendar, up to and beyond 2^63 (a signed overflow once): no time at all.
    for (const quint64 ticks : {0x7FFF000000000000ULL, 0x8000000000000000ULL, ~0ULL}) {
        QByteArray planted(8, '\0');
        qToLittleEndian<quint64>(ticks, planted.data());
        QVERIFY(!traces::fileTime(planted, 0).isValid());
    }
    QCOMPARE(traces::rot13(QStringLiteral("P:\\Tnzrf\\nvzobg.rkr {1NP14R77}")),
             QStringLiteral("C:\\Games\\aimbot.exe {1AC14E77}"));
    const QVector<QPair<QString, QString>> devices = {{QStringLiteral("\\Device\\HarddiskVolume1"), "D:"},
                                                      {QStringLiteral("\\Device\\HarddiskVolume10"), "E:"}};
    QCOMPARE(traces::dosPath(QStringLiteral("\\Device\\HarddiskVolume10\\x.exe"), devices),
             QStringLiteral("E:\\x.exe"));
    QCOMPARE(traces::dosPath(QStringLiteral("\\device\\harddiskvolume1\\x.exe"), devices), QStringLiteral("D:\\x.exe"));
    QCOMPARE(traces::dosPath(QStringLiteral("\\Device\\Mup\\x.exe"), devices), QStringLiteral("\\Device\\Mup\\x.exe"));
    QCOMPARE(traces::prefetchProgram(QStringLiteral("MY-TOOL.EXE-1A2B3C4D.pf")), QStringLiteral("MY-TOOL.EXE"));
    QCOMPARE(traces::muiCacheProgram(QStringLiteral("@C:\\x.dll,-10")), QString());
}

void ExecutionTracesTest::pcaEncodings_data()
{
    QTest::addColumn<QByteArray>("content");
    const QString line = QStringLiteral("C:\\Users\\Jörg\\aim.exe|2026-12-01 09:30:15.000\r\nbroken line\r\n");
    QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFE") + QTextCodec::codecForName("UTF-16LE")->fromUnicode(line);
    QTest::newRow("UTF-8") << line.toUtf8();
    QTest::newRow("CP-1252") << QTextCodec::codecForName("windows-1252")->fromUnicode(line);
}

void ExecutionTracesTest::pcaEncodings()
{
    QFETCH(QByteArray, content);
    const auto launches = traces::pcaLaunches(content, QTextCodec::codecForName("windows-1252"));
    QCOMPARE(launches.size(), 2);
    QCOMPARE(launches.at(0).first, QStringLiteral("C:\\Users\\Jörg\\aim.exe"));
    QCOMPARE(launches.at(0).second, ran);
    QVERIFY(!launches.at(1).second.isValid());
}

// PCA writes UTC; an hour the examiner's clock skips is still an hour of the record.
void ExecutionTracesTest::pcaTimeInTheExaminersSummerGap()
{
    ScopedEnvironment zone;
    zone.set("TZ", QStringLiteral("Europe/Berlin"));
    tzset();
    const auto launches = traces::pcaLaunches("C:\\aim.exe|2023-03-26 02:30:00.000\r\n", nullptr);
    QCOMPARE(launches.at(0).second, QDateTime(QDate(2023, 3, 26), QTime(2, 30), Qt::UTC));
}

// A share may keep the collection waiting on an unreachable host, and a device or a pipe may never
// answer: whatever source names them, they stay unasked ("—"), never "удалён".
void ExecutionTracesTest::sharesAndDevicesAreNeverAsked()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const QStringList places = {QStringLiteral("\\\\10.255.255.1\\s\\x.exe"),
                                QStringLiteral("\\\\?\\UNC\\10.255.255.1\\s\\y.exe"),
                                QStringLiteral("//10.255.255.1/s/z.exe"), QStringLiteral("\\\\.\\pipe\\p.exe")};
    QByteArray pca;
    for (const QString &place : places)
        pca += place.toUtf8() + "|2026-12-01 09:30:15.000\r\n";
    QVERIFY(writeFile(root.filePath(QStringLiteral("Windows/appcompat/pca/PcaAppLaunchDic.txt")), pca));
    const TraceCollection collection = collectTraces(machine(root.path()), {});
    QStringList states;
    for (const TraceRow &row : collection.rows)
        states.append(row.path + QLatin1Char(' ') + traceStateName(row.state));
    QStringList expected;
    for (const QString &place : places)
        expected.append(place + QStringLiteral(" name"));
    QCOMPARE(states, expected);
}

void ExecutionTracesTest::everySource_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("state");

    const QString device =
        traces::dosPath(QStringLiteral("\\Device\\HarddiskVolume3\\Tools\\loader.exe"), platform::driveDevices());
    QTest::newRow("BAM device path") << "BAM" << device << ran << (device.startsWith('\\') ? "—" : "удалён");
    QTest::newRow("BAM file there") << "BAM" << QDir::toNativeSeparators(present) << ran << "есть";
    QTest::newRow("BAM packaged app") << "BAM"
                                      << "Microsoft.Windows.Photos_8wekyb3d8bbwe" << ran << "—";
    QTest::newRow("BAM older key, deleted") << "BAM" << QDir::toNativeSeparators(missing) << ran << "удалён";
    QTest::newRow("DAM") << "DAM"
                         << "C:\\Games\\overlay.exe" << ran << "удалён";
    const QString system = platform::knownFolderPath(QLatin1String(platform::knownFolder::kSystem));
    QTest::newRow("UserAssist known folder")
        << "UserAssist" << system + "\\cmd.exe" << ran << (QFileInfo::exists(system + "\\cmd.exe") ? "есть" : "удалён");
    QTest::newRow("UserAssist short data") << "UserAssist"
                                           << "C:\\Games\\wallhack.exe" << QDateTime() << "удалён";
    QTest::newRow("Compatibility Assistant") << "Compatibility Assistant"
                                             << "C:\\Users\\p\\Downloads\\inject.exe" << QDateTime() << "удалён";
    QTest::newRow("Layers HKCU") << "AppCompat Layers"
                                 << "C:\\Old\\HKEY_CURRENT_USER.exe" << QDateTime() << "удалён";
    QTest::newRow("Layers HKLM") << "AppCompat Layers"
                                 << "C:\\Old\\HKEY_LOCAL_MACHINE.exe" << QDateTime() << "удалён";
    QTest::newRow("MUICache") << "MUICache"
                              << "C:\\Apps\\tool.exe" << QDateTime() << "удалён";
    QTest::newRow("Prefetch") << "Prefetch"
                              << "AIMBOT.EXE" << ran << "—";
    QTest::newRow("PCA") << "PCA"
                         << "C:\\Temp\\spoofer.exe" << ran.addMSecs(45250) << "удалён";
    QTest::newRow("Recent") << "Recent"
                            << "legit.cfg" << QDateTime() << "—";
    QTest::newRow("Recycle Bin, Windows 10") << "Корзина"
                                             << "C:\\Tools\\spoofer.exe" << ran << "в корзине";
    QTest::newRow("Recycle Bin, Windows 7, emptied") << "Корзина"
                                                     << "C:\\Tools\\inject.dll" << ran << "удалён";
}

void ExecutionTracesTest::everySource()
{
    QFETCH(QString, source);
    QFETCH(QString, path);
    QFETCH(QDateTime, time);
    QFETCH(QString, state);
    QStringList seen;
    for (const TraceRow &row : qAsConst(collected.rows)) {
        seen.append(row.source + QLatin1Char(' ') + row.path);
        if (row.source != source || row.path != path)
            continue;
        if (source != QLatin1String("Recent")) // a new file's time is now
            QCOMPARE(row.time, time);
        else
            QVERIFY2(row.time.isValid() && qAbs(row.time.secsTo(QDateTime::currentDateTimeUtc())) < 3600,
                     qPrintable(row.time.toString(Qt::ISODate)));
        QCOMPARE(traceStateText(row.state), state);
        QCOMPARE(row.sha256.isEmpty(), (row.state != TraceState::Present || QFileInfo(row.path).isDir()) &&
                                           row.state != TraceState::Recycled);
        return;
    }
    QFAIL(qPrintable(QStringLiteral("no row; rows: ") + seen.join(QStringLiteral("; "))));
}

void ExecutionTracesTest::matchesByDigestAndByTraceName()
{
    QMap<QString, QString> matched;
    for (const TraceRow &row : qAsConst(collected.rows)) {
        if (row.matched)
            matched.insert(row.source + QLatin1Char(' ') + row.fileName, row.ruleDescription);
        QVERIFY(!row.path.contains(QLatin1String("MuiCache"), Qt::CaseInsensitive));
    }
    const QMap<QString, QString> expected = {
        {QStringLiteral("BAM notes-viewer.exe"), QStringLiteral("Aimbot (SHA-256)")},
        {QStringLiteral("Корзина spoofer.exe"), QStringLiteral("Aimbot (SHA-256)")}, // its "$R" file's digest
        {QStringLiteral("Prefetch WALLHACK.EXE"), QStringLiteral("Wallhack")},
        {QStringLiteral("UserAssist wallhack.exe"), QStringLiteral("Wallhack")},
    };
    QCOMPARE(matched, expected);
    QCOMPARE(collected.matchCount(), 4);
    QVERIFY2(collected.notRead.join(' ').contains(QString::fromUtf8("$IBROKEN.exe): не запись корзины")),
             qPrintable(collected.notRead.join(' ')));
    // No bookkeeping entries, and one MUICache row for the program's two values.
    int muiRows = 0;
    for (const TraceRow &row : qAsConst(collected.rows)) {
        QVERIFY(!row.path.startsWith(QLatin1String("UEME_CTL")) && row.path != QLatin1String("LangID"));
        muiRows += row.source == QLatin1String("MUICache") ? 1 : 0;
    }
    QCOMPARE(muiRows, 1);
}

void ExecutionTracesTest::nothingIsWritten()
{
    const auto snapshot = [this] {
        QStringList state;
        QDirIterator it(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            state.append(info.filePath() + QLatin1Char(' ') + QString::number(info.lastModified().toMSecsSinceEpoch()) +
                         QLatin1Char(' ') +
                         QString::fromLatin1(
                             QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Sha256).toHex()));
        }
        state.sort();
        return state;
    };
    const QStringList before = snapshot();
    const QByteArray registryBefore = readFile(registry);
    collectTraces(machine(dir.filePath(QStringLiteral("machine"))), rules());
    QCOMPARE(snapshot(), before);
    QCOMPARE(readFile(registry), registryBefore);
}

void ExecutionTracesTest::signs_data()
{
    QTest::addColumn<QString>("registryExtra");
    QTest::addColumn<bool>("prefetchFiles");
    QTest::addColumn<int>("minutesSinceBoot");
    QTest::addColumn<QString>("sign");

    const QString hklm = QStringLiteral("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\");
    QTest::newRow("clean machine") << QString() << true << 24 * 60 << QString();
    QTest::newRow("Prefetch off") << hklm + "Control\\Session Manager\\Memory Management\\PrefetchParameters]\r\n"
                                            "\"EnablePrefetcher\"=dword:00000000\r\n"
                                  << true << 24 * 60 << "Prefetch отключён: EnablePrefetcher = 0";
    QTest::newRow("SysMain disabled") << hklm + "Services\\SysMain]\r\n\"Start\"=dword:00000004\r\n"
                                      << true << 24 * 60 << "Служба SysMain отключена: Start = 4";
    QTest::newRow("bam disabled") << hklm + "Services\\bam]\r\n\"Start\"=dword:00000004\r\n"
                                  << true << 24 * 60 << "Служба bam отключена: Start = 4";
    QTest::newRow("tracking off") << "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                     "Advanced]\r\n\"Start_TrackProgs\"=dword:00000000\r\n"
                                  << true << 24 * 60 << "Отслеживание запуска программ отключено";
    QTest::newRow("Prefetch empty") << QString() << false << 24 * 60 << "нет ни одного файла .pf";
    QTest::newRow("Prefetch older than the start") << QString() << true << -60 << "не менялся после запуска Windows";
    QTest::newRow("started recently") << QString() << true << 59 << "Windows запущена менее 60 минут назад: ";
    QTest::newRow("BAM readable but empty") << hklm + "Services\\bam\\State\\UserSettings\\S-1-5-21-1]\r\n"
                                            << true << 24 * 60 << "Ключ BAM доступен для чтения, но не содержит";
}

void ExecutionTracesTest::signs()
{
    QFETCH(QString, registryExtra);
    QFETCH(bool, prefetchFiles);
    QFETCH(int, minutesSinceBoot);
    QFETCH(QString, sign);
    QTemporaryDir root;
    const QDateTime now = ran.addSecs(3600);
    if (prefetchFiles)
        QVERIFY(writeFile(root.filePath(QStringLiteral("Windows/Prefetch/CMD.EXE-0BD30981.pf")), "MAM"));
    else
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("Windows/Prefetch"))));
    ScopedEnvironment local;
    QByteArray text = "Windows Registry Editor Version 5.00\r\n\r\n" + registryExtra.toUtf8();
    if (!registryExtra.contains(QLatin1String("bam\\State")))
        text += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings\\S-1]\r\n"
                "\"C:\\\\x.exe\"=hex:00,00,00,00,00,00,00,01\r\n";
    QVERIFY(useRegistry(local, root.filePath(QStringLiteral("registry.reg")), text));
    // The Prefetch file was written just now: the start is put before or after it.
    const QDateTime written =
        QFileInfo(root.filePath(QStringLiteral("Windows/Prefetch/CMD.EXE-0BD30981.pf"))).lastModified().toUTC();
    const QDateTime bootTime = minutesSinceBoot < 0 ? written.addSecs(60) : now.addSecs(-60 * minutesSinceBoot);
    const TraceCollection result = collectTraces({root.filePath(QStringLiteral("Windows")),
                                                  root.filePath(QStringLiteral("Roaming")),
                                                  bootTime,
                                                  minutesSinceBoot < 0 ? written.addDays(1) : now,
                                                  {},
                                                  {},
                                                  {},
                                                  {}},
                                                 {});
    // The service manager of the machine running the test may have its own word on services.
    QStringList signs;
    for (const QString &line : result.signs) {
        if (!line.endsWith(QLatin1String(" не запущена")))
            signs.append(line);
    }
    if (sign.isEmpty()) {
        QCOMPARE(signs, QStringList());
    } else {
        QCOMPARE(signs.size(), 1);
        QVERIFY2(signs.first().contains(sign), qPrintable(signs.first()));
    }
}

// A PCA file padded past 64 MiB is read up to there and named; forty spellings of one file are
// looked at and hashed once.
void ExecutionTracesTest::oversizedPcaAndManySpellingsOfOneFile()
{
    const QString root = dir.filePath(QStringLiteral("hostile"));
    const QString pca = root + QStringLiteral("/Windows/appcompat/pca/PcaAppLaunchDic.txt");
    const QString folder = QFileInfo(present).path();
    const auto hashedFiles = [&](int spellings, qint64 padding, TraceCollection &result) {
        QByteArray lines;
        for (int i = 0; i < spellings; ++i)
            lines += QDir::toNativeSeparators(folder + QStringLiteral("/.").repeated(i) + QStringLiteral("/") +
                                              QFileInfo(present).fileName())
                         .toUtf8() +
                     "|2026-12-01 09:31:00.250\r\n";
        if (!writeFile(pca, lines))
            return -1;
        QFile file(pca);
        if (padding > 0 && !file.resize(padding))
            return -1;
        int total = 0;
        result = collectTraces(machine(root), {}, [&total](int, int all) { total = all; });
        return total;
    };
    TraceCollection once;
    TraceCollection many;
    const int hashedOnce = hashedFiles(1, 0, once);
    QVERIFY(hashedOnce > 0);
    QCOMPARE(hashedFiles(40, 65 * 1024 * 1024, many), hashedOnce);
    QVERIFY(once.signs.filter(QStringLiteral("64 МиБ")).isEmpty());
    QCOMPARE(many.signs.filter(QStringLiteral("64 МиБ")),
             QStringList{"Файл следов больше 64 МиБ, прочитано начало: PCA (" + QDir::toNativeSeparators(pca) + ")"});
    int rows = 0;
    for (const TraceRow &row : qAsConst(many.rows)) {
        if (row.source != QLatin1String("PCA"))
            continue;
        ++rows;
        QCOMPARE(row.state, TraceState::Present);
        QCOMPARE(row.sha256,
                 QString::fromLatin1(QCryptographicHash::hash(kCheatBytes, QCryptographicHash::Sha256).toHex()));
    }
    QCOMPARE(rows, 40);
}

VIGILOR_GUILESS_TEST_MAIN(ExecutionTracesTest)
#include "ExecutionTracesTest.moc"
