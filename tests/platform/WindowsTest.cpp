#include "TestEnvironment.h"
#include "TestMain.h"
#include "platform/CaptureHiding.h"
#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/LockedFile.h"
#include "platform/Programs.h"
#include "platform/RegistryHives.h"
#include "platform/System.h"
#include "platform/UsnJournal.h"
#include "traces/EventLogReader.h"
#include "traces/ExecutionTraces.h"
#include "traces/TraceDecoders.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <qt_windows.h>

// What only Windows has: its registry, its own programs started by absolute paths, and the
// executable's form.
class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void registry_data();
    void registry();
    void programsAreNamedByAbsolutePaths();
    void plantedTaskkillDoesNotRun();
    void endProgramEndsARunningBrowser();
    void executableIsA64BitGuiProgramWithItsManifest();
    void traceKeyWithoutReadRightsIsNamed();
    void devicePathsThroughDosDeviceNames();
    void liveLogsAnswerOrSayWhy();
    void windowHiddenFromCaptureIsFound();
    void lockedFileIsCopiedFromTheVolumeOrSaysWhy();
};

void WindowsTest::registry_data()
{
    QTest::addColumn<QString>("subKey");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("value");
    QTest::newRow("present") << "SOFTWARE\\Vendor\\Loader" << true << "C:\\Games\\Вигилор";
    QTest::newRow("other letter case") << "software\\VENDOR\\loader" << true << "C:\\Games\\Вигилор";
    QTest::newRow("missing") << "SOFTWARE\\Vendor\\Missing" << false << "";
    QTest::newRow("empty sub-key is the hive") << "" << true << "";
}

void WindowsTest::registry()
{
    QFETCH(QString, subKey);
    QFETCH(bool, exists);
    QFETCH(QString, value);
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, QString(),
                        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Loader]\r\n"
                        "\"Path\"=\"C:\\\\Games\\\\Вигилор\"\r\n"));
    QCOMPARE(platform::registryKeyExists(HKEY_LOCAL_MACHINE, subKey), exists);
    QCOMPARE(platform::registryValue(QStringLiteral("HKEY_LOCAL_MACHINE\\") + subKey, QStringLiteral("Path")), value);
}

void WindowsTest::programsAreNamedByAbsolutePaths()
{
    QTemporaryDir temp;
    const QString startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(temp.path()));
    for (const QString &program :
         {platform::unpackerProgram(temp.path()),
          platform::toolProgram(QStringLiteral("ProcessHacker/ProcessHacker.exe")), platform::fileManagerProgram()})
        QVERIFY2(QDir::isAbsolutePath(program) && program.contains(QLatin1Char('\\')), qPrintable(program));
    QCOMPARE(platform::unpackerProgram(temp.path()),
             QDir::toNativeSeparators(temp.filePath(QStringLiteral("unzip.exe"))));
    QVERIFY(QFileInfo::exists(platform::fileManagerProgram()));
    QDir::setCurrent(startDir);
}

void WindowsTest::plantedTaskkillDoesNotRun()
{
    // A taskkill.exe beside the program and one in the working directory, as a player would plant them.
    QTemporaryDir temp;
    const QString log = temp.filePath(QStringLiteral("planted.log"));
    const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/taskkill.exe");
    QVERIFY(installRecorder(besideProgram, {{QStringLiteral("log"), log}}));
    QVERIFY(installRecorder(temp.filePath(QStringLiteral("taskkill.exe")), {{QStringLiteral("log"), log}}));
    const QString startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(temp.path()));
    platform::endProgram(QStringLiteral("vigilor-nothing.exe"));
    QTest::qWait(3000);
    QDir::setCurrent(startDir);
    QFile::remove(besideProgram);
    QFile::remove(besideProgram + QStringLiteral(".record"));
    QVERIFY2(!QFile::exists(log), readFile(log).constData());
}

void WindowsTest::endProgramEndsARunningBrowser()
{
    QTemporaryDir temp;
    const QString browser = temp.filePath(QStringLiteral("chrome.exe"));
    QVERIFY(installRecorder(browser, {{QStringLiteral("behaviour"), QStringLiteral("hang")}}));
    QProcess running;
    running.start(browser, QStringList());
    QVERIFY(running.waitForStarted());
    platform::endProgram(QStringLiteral("chrome.exe"));
    QVERIFY(running.waitForFinished(20000));
}

void WindowsTest::executableIsA64BitGuiProgramWithItsManifest()
{
    const QByteArray image = readFile(QStringLiteral(VIGILOR_PROGRAM));
    QVERIFY(image.startsWith("MZ"));
    const auto read16 = [&](int at) { return quint16(quint8(image.at(at)) | quint8(image.at(at + 1)) << 8); };
    const int header = int(read16(0x3c) | read16(0x3e) << 16);
    QCOMPARE(image.mid(header, 4), QByteArray("PE\0\0", 4));
    const int optional = header + 24;
    QCOMPARE(read16(optional), quint16(0x20b)); // PE32+
    QCOMPARE(read16(optional + 68), quint16(IMAGE_SUBSYSTEM_WINDOWS_GUI));

    const std::wstring path = QDir::toNativeSeparators(QStringLiteral(VIGILOR_PROGRAM)).toStdWString();
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    QVERIFY(module);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    QVERIFY(resource);
    const QByteArray manifest(static_cast<const char *>(LockResource(LoadResource(module, resource))),
                              int(SizeofResource(module, resource)));
    FreeLibrary(module);
    QVERIFY(manifest.contains("level=\"asInvoker\""));
    QVERIFY(manifest.contains("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
}

void WindowsTest::traceKeyWithoutReadRightsIsNamed()
{
    ScopedEnvironment environment;
    const QString store = QStringLiteral(
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store");
    QVERIFY(useRegistry(environment, QString(),
                        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" + store.toUtf8() +
                            "]\r\n\"C:\\\\cheat.exe\"=hex:00\r\n"));
    const std::wstring path = store.toStdWString();
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key), LONG(ERROR_SUCCESS));
    // A DACL without entries grants nothing to anybody.
    SECURITY_DESCRIPTOR closed;
    ACL empty;
    QVERIFY(InitializeSecurityDescriptor(&closed, SECURITY_DESCRIPTOR_REVISION));
    QVERIFY(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    QVERIFY(SetSecurityDescriptorDacl(&closed, TRUE, &empty, FALSE));
    QCOMPARE(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &closed), LONG(ERROR_SUCCESS));
    const TraceCollection collected = collectTraces({}, {});
    // Opened again for the next test: a null DACL grants everything.
    SECURITY_DESCRIPTOR open;
    QVERIFY(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    QVERIFY(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
    RegCloseKey(key);
    QCOMPARE(collected.unreadable,
             QStringList{QStringLiteral("Compatibility Assistant (HKEY_CURRENT_USER\\") + store + QLatin1Char(')')});
    for (const TraceRow &row : collected.rows)
        QVERIFY(row.source != QLatin1String("Compatibility Assistant"));
}

void WindowsTest::devicePathsThroughDosDeviceNames()
{
    QVERIFY(DefineDosDeviceW(DDD_RAW_TARGET_PATH, L"Q:", L"\\Device\\VigilorTestVolume7"));
    const auto devices = platform::driveDevices();
    DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, L"Q:",
                     L"\\Device\\VigilorTestVolume7");
    QVERIFY(devices.contains({QStringLiteral("\\Device\\VigilorTestVolume7"), QStringLiteral("Q:")}));
    QCOMPARE(traces::dosPath(QStringLiteral("\\Device\\VigilorTestVolume7\\Tools\\loader.exe"), devices),
             QStringLiteral("Q:\\Tools\\loader.exe"));
}

// The live event log and change journal, whatever the system offers of them: each read gives what
// it read, whole, or says why it could not.
void WindowsTest::liveLogsAnswerOrSayWhy()
{
    QVERIFY(!platform::fixedDrives().isEmpty());
    const platform::EventLogRead events = platform::readEventLog(QStringLiteral("System"), {7045, 104}, 30);
    QString error;
    if (events.access == platform::EventLogRead::Access::Read)
        parseEvents(events.xml, error);
    else
        QVERIFY(!events.error.isEmpty());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const platform::UsnJournalRead journal = platform::readUsnJournal(platform::fixedDrives().first());
    bool broken = false;
    if (journal.access == platform::UsnJournalRead::Access::Read)
        traces::usnRecords(journal.records, broken);
    else
        QVERIFY(!journal.error.isEmpty());
    QVERIFY(!broken);
}

VIGILOR_GUILESS_TEST_MAIN(WindowsTest)
#include "WindowsTest.moc"

// Another program's window kept out of capture is found with its title, image and PID; where the
// system does not keep the affinity (Wine accepts the call and answers WDA_NONE when asked back), the
// walk must still run and list nothing of it.
void WindowsTest::windowHiddenFromCaptureIsFound()
{
    QTemporaryDir temp;
    const QString menu = temp.filePath(QStringLiteral("menu.exe"));
    const QString title = QStringLiteral("Меню <b>");
    QVERIFY(installRecorder(menu,
                            {{QStringLiteral("behaviour"), QStringLiteral("hide")}, {QStringLiteral("name"), title}}));
    QProcess running;
    running.start(menu, QStringList());
    QVERIFY(running.waitForStarted());
    QVERIFY(running.waitForReadyRead(20000));
    const QByteArray answer = running.readLine().trimmed();
    const platform::HiddenWindows hidden = platform::windowsHiddenFromCapture();
    running.kill();
    running.waitForFinished();
    QVERIFY(hidden.asked);
    QVERIFY2(hidden.why.isEmpty(), qPrintable(hidden.why));
    const auto found = std::find_if(hidden.windows.begin(), hidden.windows.end(),
                                    [&](const platform::HiddenWindow &window) { return window.title == title; });
    if (answer != "affinity 0 17") {
        qInfo("the system did not keep the window's affinity here (%s): the walk ran over the desktop and found no "
              "such window",
              answer.constData());
        QVERIFY(found == hidden.windows.end());
        return;
    }
    QVERIFY(found != hidden.windows.end());
    QCOMPARE(found->pid, running.processId());
    QCOMPARE(QFileInfo(found->image).fileName(), QStringLiteral("menu.exe"));
    QCOMPARE(found->affinity, platform::kExcludeFromCapture);
}

// A file held open without sharing, as Windows holds its hives: the file system refuses it, and the raw
// volume is read instead (administrator rights on NTFS) or both refusals are named.
void WindowsTest::lockedFileIsCopiedFromTheVolumeOrSaysWhy()
{
    QTemporaryDir temp;
    const QString path = QDir::toNativeSeparators(temp.filePath(QStringLiteral("Amcache.hve")));
    QVERIFY(writeFile(path, QByteArray(5000, 'h')));
    const HANDLE held = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(held != INVALID_HANDLE_VALUE);
    QBuffer copy;
    copy.open(QIODevice::WriteOnly);
    QString why;
    platform::CopyRoute route = platform::CopyRoute::FileSystem;
    const platform::ReadEnd end = platform::copyLockedFile(path, copy, 1 << 20, why, route);
    CloseHandle(held);
    QCOMPARE(route, platform::CopyRoute::RawVolume);
    if (end == platform::ReadEnd::Whole) {
        QCOMPARE(copy.data(), QByteArray(5000, 'h'));
        return;
    }
    qInfo("the raw volume did not answer here: %s", qPrintable(why));
    QVERIFY2(why.contains(QStringLiteral("; с тома: ")), qPrintable(why));
}
