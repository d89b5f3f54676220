#include "rules/Signatures.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "platform/FileSystem.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

// The league's YARA rules compiled and matched against files we write and the memory of a process
// of ours.
class SignaturesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void compileFailureNamesTheLine();
    void filesByContent();
    void timeOutOnOneFileDoesNotStopTheScan();
    void fileLockedWithoutSharingIsNamed();
    void externals_data();
    void externals();
    void processMemory_data();
    void processMemory();

private:
    QString path(const QString &name) const { return temp.filePath(name); }

    QTemporaryDir temp;
    std::shared_ptr<const SignatureRules> rules;
};

namespace {
const char kRules[] = R"yara(import "pe"
rule ascii_marker { meta: desc = "Loader (ASCII)" level = 1 strings: $a = "VIGILOR-ASCII-MARK" condition: $a }
rule wide_marker { meta: desc = "Loader (wide)" level = 0 strings: $w = "VIGILOR-WIDE-MARK" wide condition: $w }
rule amd64_pe { condition: pe.is_pe and pe.machine == pe.MACHINE_AMD64 }
rule image_named { condition: filename matches /^marker-holder(\.exe)?$/ and filetype != "DLL" }
)yara";

// The smallest PE file the pe module reads: DOS header, "PE\0\0", a file header for x86-64 and an
// empty PE32+ optional header.
QByteArray portableExecutable()
{
    char file[0x40 + 4 + 20 + 0xF0] = {};
    file[0] = 'M';
    file[1] = 'Z';
    qToLittleEndian<quint32>(0x40, file + 0x3C);
    file[0x40] = 'P';
    file[0x41] = 'E';
    qToLittleEndian<quint16>(0x8664, file + 0x44); // machine
    qToLittleEndian<quint16>(0xF0, file + 0x54);   // size of the optional header
    qToLittleEndian<quint16>(0x22, file + 0x56);   // executable, large addresses
    qToLittleEndian<quint16>(0x20B, file + 0x58);  // PE32+
    return QByteArray(file, sizeof file);
}
QStringList problemsOf(const SignatureScan &scan)
{
    QStringList texts;
    for (const SignatureProblem &problem : scan.problems)
        texts.append(signatureProblemText(problem));
    return texts;
}
} // namespace

void SignaturesTest::initTestCase()
{
    QString error;
    rules = SignatureRules::compile(QString::fromLatin1(kRules), {QStringLiteral("^marker-holder(\\.exe)?$")}, error);
    QVERIFY2(rules, qPrintable(error));
}

void SignaturesTest::compileFailureNamesTheLine()
{
    QString error;
    QVERIFY(
        !SignatureRules::compile(QStringLiteral("rule a { condition: true }\n\nrule b { condition: $x }"), {}, error));
    QVERIFY2(error.startsWith(QLatin1String("YARA: ")) && error.endsWith(QLatin1String(" (line 3)")),
             qPrintable(error));
    QVERIFY(!SignatureRules::compile(QStringLiteral("rule a { condition: true }"), {QStringLiteral("(")}, error));
    QVERIFY2(error.startsWith(QLatin1String("yara_processes: (")), qPrintable(error));
    // Only the externals other scanners define are known.
    QVERIFY(!SignatureRules::compile(QStringLiteral("rule a { condition: filename != \"\" }\n"
                                                    "rule b { condition: file_name == \"x\" }"),
                                     {}, error));
    QCOMPARE(error, QStringLiteral("YARA: undefined identifier \"file_name\" (line 2)"));
}

void SignaturesTest::filesByContent()
{
    QVERIFY(writeFile(path(QStringLiteral("renamed.txt")), "xx VIGILOR-ASCII-MARK xx"));
    QVERIFY(writeFile(path(QStringLiteral("wide.dat")),
                      QByteArray("V\0I\0G\0I\0L\0O\0R\0-\0W\0I\0D\0E\0-\0M\0A\0R\0K\0", 34)));
    QVERIFY(writeFile(path(QStringLiteral("tiny.exe")), portableExecutable()));
    QVERIFY(writeFile(path(QStringLiteral("clean.bin")), "nothing here"));
    QFile large(path(QStringLiteral("large.bin")));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(kLargestScannedFile + 1));
    large.close();
    // A loader padded past 64 MiB is still scanned, its marker at the very end.
    QFile padded(path(QStringLiteral("padded.bin")));
    QVERIFY(padded.open(QIODevice::WriteOnly) && padded.seek(65 * 1024 * 1024) && padded.write("VIGILOR-ASCII-MARK"));
    padded.close();
    // One file named three times, once through "..", is scanned once.
    const QStringList files = {path(QStringLiteral("renamed.txt")),
                               path(QStringLiteral("wide.dat")),
                               path(QStringLiteral("tiny.exe")),
                               path(QStringLiteral("clean.bin")),
                               path(QStringLiteral("padded.bin")),
                               path(QStringLiteral("large.bin")),
                               path(QStringLiteral("renamed.txt")),
                               temp.path() + QStringLiteral("/../") + QDir(temp.path()).dirName() +
                                   QStringLiteral("/renamed.txt")};
    const SignatureScan scan = scanSignatures(*rules, files, {});
    QStringList found;
    for (const SignatureMatch &match : scan.matches)
        found.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(match.rule, match.description)
                         .arg(match.level)
                         .arg(QFileInfo(match.target).fileName()));
    QCOMPARE(found, (QStringList{"ascii_marker Loader (ASCII) 1 renamed.txt", "wide_marker Loader (wide) 0 wide.dat",
                                 "amd64_pe amd64_pe 1 tiny.exe", "ascii_marker Loader (ASCII) 1 padded.bin"}));
    QCOMPARE(scan.files, 5);
    QCOMPARE(scan.skippedForSize, 1);
    QCOMPARE(problemsOf(scan), QStringList{"Не проверено (больше 1 ГиБ): " +
                                           QFileInfo(path(QStringLiteral("large.bin"))).canonicalFilePath()});
}

void SignaturesTest::timeOutOnOneFileDoesNotStopTheScan()
{
    QString error;
    const auto slow = SignatureRules::compile(
        QStringLiteral("rule slow { condition: for all i in (0..filesize) : (for all j in (0..filesize) : "
                       "(uint8(i) != 0xFF or uint8(j) != 0xFF)) }\n"
                       "rule marker { strings: $a = \"VIGILOR-ASCII-MARK\" condition: $a }"),
        {}, error);
    QVERIFY2(slow, qPrintable(error));
    QVERIFY(writeFile(path(QStringLiteral("slow.bin")), QByteArray(200000, '\0')));
    QVERIFY(writeFile(path(QStringLiteral("after.txt")), "VIGILOR-ASCII-MARK"));
    const SignatureScan scan =
        scanSignatures(*slow, {path(QStringLiteral("slow.bin")), path(QStringLiteral("after.txt"))}, {});
    QCOMPARE(scan.timedOut, 1);
    QCOMPARE(scan.files, 2);
    QCOMPARE(problemsOf(scan),
             QStringList{"Не проверено за 10 с: " + QFileInfo(path(QStringLiteral("slow.bin"))).canonicalFilePath()});
    QVERIFY(scan.problems.first().red());
    QCOMPARE(scan.matches.size(), 1);
    QCOMPARE(scan.matches.first().rule, QStringLiteral("marker"));
}

// A player's program holds its loader open without read sharing; the scan names it.
void SignaturesTest::fileLockedWithoutSharingIsNamed()
{
#ifdef Q_OS_WIN
    const QString locked = path(QStringLiteral("locked.exe"));
    QVERIFY(writeFile(locked, "VIGILOR-ASCII-MARK"));
    const HANDLE holder = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(locked).utf16()),
                                      GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(holder != INVALID_HANDLE_VALUE);
    const SignatureScan scan = scanSignatures(*rules, {locked}, {});
    CloseHandle(holder);
    QCOMPARE(scan.unreadable, 1);
    QCOMPARE(scan.problems.size(), 1);
    QVERIFY2(signatureProblemText(scan.problems.first())
                 .startsWith("Не прочитано: " + QFileInfo(locked).canonicalFilePath() + " ("),
             qPrintable(signatureProblemText(scan.problems.first())));
    QVERIFY(!scan.problems.first().red());
#else
    QSKIP("a lock without read sharing is Windows' own");
#endif
}

void SignaturesTest::externals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("condition"); // %1: the file's path as the system writes it; %2: its owner

    QByteArray dll = portableExecutable();
    dll[0x56 + 1] = 0x20; // IMAGE_FILE_DLL
    QTest::newRow("filename") << "Loader.EXE" << QByteArray("x") << "filename == \"Loader.EXE\"";
    QTest::newRow("filepath") << "a.bin" << QByteArray("x") << "filepath == \"%1\"";
    QTest::newRow("extension in lower case") << "Tool.ExE" << QByteArray("x") << "extension == \".exe\"";
    QTest::newRow("no extension") << "tool" << QByteArray("x") << "extension == \"\"";
    QTest::newRow("filetype EXE") << "p.bin" << portableExecutable() << "filetype == \"EXE\"";
    QTest::newRow("filetype DLL") << "d.bin" << dll << "filetype == \"DLL\"";
    QTest::newRow("filetype ELF") << "e.bin"
                                  << QByteArray("\x7F"
                                                "ELF\x02\x01\x01")
                                  << "filetype == \"ELF\"";
    QTest::newRow("filetype of text") << "t.exe" << QByteArray("MZ but no more") << "filetype == \"\"";
    QTest::newRow("owner") << "o.bin" << QByteArray("x") << "owner == \"%2\"";
}

// Each external a public rule set uses, matched against a file whose facts are known.
void SignaturesTest::externals()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, condition);
    const QString file = path(QStringLiteral("externals/") + name);
    QVERIFY(writeFile(file, content));
    const QString canonical = QFileInfo(file).canonicalFilePath();
    QString owner;
#ifdef Q_OS_WIN
    owner = platform::fileOwner(canonical); // Wine's accounts are its own; the test needs one that reads
    if (owner.isEmpty() && condition.contains(QLatin1String("%2")))
        QSKIP("the system does not say who owns the file");
#else
    owner = QString::fromLocal8Bit(getpwuid(getuid())->pw_name);
#endif
    // Backslashes, of a Windows path or of "DOMAIN\user", escaped as YARA's strings want them.
    const auto escaped = [](QString text) { return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")); };
    QString error;
    const auto rules =
        SignatureRules::compile(QStringLiteral("rule known { condition: %1 }")
                                    .arg(QString(condition)
                                             .replace(QLatin1String("%1"), escaped(QDir::toNativeSeparators(canonical)))
                                             .replace(QLatin1String("%2"), escaped(owner))),
                                {}, error);
    QVERIFY2(rules, qPrintable(error));
    const SignatureScan scan = scanSignatures(*rules, {file}, {});
    QCOMPARE(scan.matches.size(), 1);
}

void SignaturesTest::processMemory_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("scanned");
    QTest::newRow("image name listed") << "marker-holder"
                                       << "hang"
                                       << "VIGILOR-WIDE-MARK" << true;
    QTest::newRow("image name not listed") << "other-holder"
                                           << "hang"
                                           << "VIGILOR-WIDE-MARK" << false;
    QTest::newRow("marker beside 64 GiB never touched") << "marker-holder"
                                                        << "reserve"
                                                        << "KRAM-EDIW-ROLIGIV" << true;
}

void SignaturesTest::processMemory()
{
    QFETCH(QString, image);
    QFETCH(QString, behaviour);
    QFETCH(QString, name);
    QFETCH(bool, scanned);
    const QString suffix = QDir::separator() == QLatin1Char('\\') ? QStringLiteral(".exe") : QString();
    const QString program = path(image + suffix);
    // The marker exists only in the running process's memory: it is read from the settings file.
    QVERIFY(installRecorder(program, {{QStringLiteral("behaviour"), behaviour}, {QStringLiteral("name"), name}}));
    QProcess holder;
    holder.start(program, QStringList());
    QVERIFY(holder.waitForStarted());
    QTest::qWait(1000); // it reads its settings
    QVector<platform::RunningProcess> processes;
    for (const platform::RunningProcess &process : platform::runningProcesses()) {
        if (process.pid == holder.processId())
            processes.append(process);
    }
    QCOMPARE(processes.size(), 1);
    QCOMPARE(processes.first().image, image + suffix);
    const SignatureScan scan = scanSignatures(*rules, {}, processes);
    const qint64 pid = holder.processId();
    QCOMPARE(holder.state(), QProcess::Running); // read, not stopped or changed
    holder.kill();
    holder.waitForFinished();
    QCOMPARE(scan.processes, scanned ? 1 : 0);
    QCOMPARE(scan.notOpened, 0);
    // On Windows the image mapped at the start of the memory is a PE file, which amd64_pe may match too.
    // A memory's externals describe its image file.
    QStringList found;
    for (const SignatureMatch &match : scan.matches) {
        if (match.rule == QLatin1String("wide_marker") || match.rule == QLatin1String("image_named"))
            found.append(QStringLiteral("%1 %2").arg(match.target).arg(match.pid));
    }
    const QString hit = QStringLiteral("%1 %2").arg(image + suffix).arg(pid);
    QCOMPARE(found, scanned ? (QStringList{hit, hit}) : QStringList());
}

VIGILOR_GUILESS_TEST_MAIN(SignaturesTest)
#include "SignaturesTest.moc"
