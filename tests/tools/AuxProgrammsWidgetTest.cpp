#include "tools/AuxProgrammsWidget.h"
#include "ModalCloser.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QPushButton>
#include <QSysInfo>
#include <QTest>

// The utilities page against the process-wide loader, with recording stand-ins for the six tools in
// the working folder and for the file manager on PATH. With VIGILOR_TEST_WITHOUT_GAME set, the
// registry names no game folder and the server's search pattern is empty.
class AuxProgrammsWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void buttonStartsProgram_data();
    void buttonStartsProgram();
    void pressTwiceStartsTwoCopies();
    void missingToolShowsNothing();
    void usbDeviewCopyFollowsArchitecture_data();
    void usbDeviewCopyFollowsArchitecture();

private:
    // Makes `program` (relative to `folder`) a recorder that appends "program [arg]..." to the log.
    bool installRecorder(const QString &folder, const QString &program);
    QStringList startsWithin(int expected);
    QString folder(const QString &path) const { return temp.filePath(path); }
    QPushButton *button(const QString &name) const { return page->findChild<QPushButton *>(name); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    std::unique_ptr<AuxProgrammsWidget> page;
    bool withoutGame = false;
};

bool AuxProgrammsWidgetTest::installRecorder(const QString &folder, const QString &program)
{
    return ::installRecorder(folder + QLatin1Char('/') + program,
                             {{QStringLiteral("log"), this->folder(QStringLiteral("starts.log"))},
                              {QStringLiteral("name"), program}});
}

QStringList AuxProgrammsWidgetTest::startsWithin(int expected)
{
    const QString log = folder(QStringLiteral("starts.log"));
    const auto lines = [&] { return QString::fromUtf8(readFile(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts); };
    if (!QTest::qWaitFor([&] { return lines().size() >= expected; }, 10000))
        return lines(); // too few: the comparison that follows says which
    QTest::qWait(100);  // a start that should not have happened gets its chance to show
    return lines();
}

void AuxProgrammsWidgetTest::initTestCase()
{
    withoutGame = qEnvironmentVariableIsSet("VIGILOR_TEST_WITHOUT_GAME");
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    if (withoutGame)
        server->setReply(QStringLiteral("everything"), okEnvelope("data", "\"\""));
    environment.set("APPDATA", folder(QStringLiteral("AppData/Roaming")));
    environment.set("PROGRAMDATA", folder(QStringLiteral("ProgramData")));
    environment.set("SYSTEMDRIVE", folder(QStringLiteral("C")));
    environment.set("PUBLIC", folder(QStringLiteral("Public")));
    QVERIFY2(loadProcessWideLoader(environment, temp.path(),
                                   withoutGame ? QByteArray()
                                               : registryWithFolders(folder(QStringLiteral("Game Folder")),
                                                                     folder(QStringLiteral("Steam")))),
             qPrintable(ContentLoader::instance()->errorString()));
    // Loading left the working folder where the archive was unpacked; the tools are replaced there.
    for (const QString &tool :
         {QStringLiteral("Everything.exe"), QStringLiteral("shellbag_analyzer_cleaner.exe"),
          QStringLiteral("LastActivityView.exe"), QStringLiteral("AnyDesk.exe"),
          QStringLiteral("ProcessHacker/ProcessHacker.exe"), QStringLiteral("USBDeview/USBDeviewx64/USBDeview.exe"),
          QStringLiteral("USBDeview/USBDeviewx32/USBDeview.exe")})
        QVERIFY(installRecorder(QDir::currentPath(), tool));
    QVERIFY(installRecorder(folder(QStringLiteral("bin")), QStringLiteral("xdg-open")));
    environment.prependPath(folder(QStringLiteral("bin")));
    page = std::make_unique<AuxProgrammsWidget>();
}

void AuxProgrammsWidgetTest::init()
{
    // Without a game folder only the presses that depend on it are of interest.
    if (withoutGame && qstrcmp(QTest::currentTestFunction(), "buttonStartsProgram") != 0)
        QSKIP("runs with a game folder");
    QFile::remove(folder(QStringLiteral("starts.log")));
}

void AuxProgrammsWidgetTest::buttonStartsProgram_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("unsetVariable");
    QTest::addColumn<QString>("expected");

    const auto opened = [this](const QString &path) { return QStringLiteral("xdg-open [%1]").arg(folder(path)); };
    QTest::newRow("everything") << "everythingButton"
                                << "Everything" << QByteArray()
                                << (withoutGame ? QStringLiteral("Everything.exe [-regex] [-s] []")
                                                : QStringLiteral("Everything.exe [-regex] [-s] [cheat|hack]"));
    QTest::newRow("shellbag") << "shellbagButton"
                              << "Shellbag Analyzer" << QByteArray() << "shellbag_analyzer_cleaner.exe";
    QTest::newRow("last activity") << "lastActivityViewButton"
                                   << "Last Activity View" << QByteArray() << "LastActivityView.exe";
    QTest::newRow("usb") << "usbDeviceViewButton"
                         << "USBDeview" << QByteArray() << usbDeviewProgram(QSysInfo::currentCpuArchitecture());
    QTest::newRow("process hacker") << "processHackerButton"
                                    << "Process Hacker" << QByteArray() << "ProcessHacker/ProcessHacker.exe";
    QTest::newRow("any desk") << "anyDeskButton"
                              << "AnyDesk" << QByteArray() << "AnyDesk.exe";
    // Without a game folder the placeholder gives nothing and the folder is the lone separator.
    QTest::newRow("game folder") << "gameFolderButton"
                                 << "Папка с игрой" << QByteArray()
                                 << (withoutGame ? QStringLiteral("xdg-open [/]") : opened("Game Folder/"));
    QTest::newRow("app data") << "appDataFolder"
                              << "AppData" << QByteArray() << opened("AppData/Roaming/");
    QTest::newRow("program data") << "programDataFolderButton"
                                  << "ProgramData" << QByteArray() << opened("ProgramData/");
    QTest::newRow("system drive") << "systemDiskFolderButton"
                                  << "Системный диск" << QByteArray() << opened("C/");
    QTest::newRow("public") << "publicFolderButton"
                            << "Общие документы" << QByteArray() << opened("Public/");
    QTest::newRow("public unset stays as written")
        << "publicFolderButton"
        << "Общие документы" << QByteArray("PUBLIC") << "xdg-open [%public%/]";
    QTest::newRow("recent") << "recentFilesButton"
                            << "Недавние" << QByteArray() << opened("AppData/Roaming/Microsoft/Windows/Recent/");
    QTest::newRow("temp keeps its dots") << "tempFilesFolderButton"
                                         << "Временные файлы" << QByteArray()
                                         << opened("AppData/Roaming/../Local/Temp/");
    QTest::newRow("prefetch") << "prefetchFolderButton"
                              << "Prefetch" << QByteArray() << opened("C/Windows/Prefetch/");
}

void AuxProgrammsWidgetTest::buttonStartsProgram()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QByteArray, unsetVariable);
    QFETCH(QString, expected);

#ifdef Q_OS_WIN
    if (expected.startsWith(QLatin1String("xdg-open")))
        QSKIP("explorer.exe is started from the Windows folder, where no stand-in can record it");
#endif
    ScopedEnvironment rowEnvironment;
    if (!unsetVariable.isEmpty())
        rowEnvironment.unset(unsetVariable.constData());
    QCOMPARE(button(name)->text(), caption);
    QTest::mouseClick(button(name), Qt::LeftButton);
    QCOMPARE(startsWithin(1), QStringList{expected});
}

void AuxProgrammsWidgetTest::pressTwiceStartsTwoCopies()
{
    // The second press comes while the first copy may still run: each is a copy of its own.
    QTest::mouseClick(button(QStringLiteral("processHackerButton")), Qt::LeftButton);
    QTest::mouseClick(button(QStringLiteral("processHackerButton")), Qt::LeftButton);
    QCOMPARE(startsWithin(2), (QStringList{"ProcessHacker/ProcessHacker.exe", "ProcessHacker/ProcessHacker.exe"}));
}

void AuxProgrammsWidgetTest::missingToolShowsNothing()
{
    const QString tool = QDir::current().filePath(QStringLiteral("AnyDesk.exe"));
    QVERIFY(QFile::rename(tool, tool + QStringLiteral(".away")));
    ModalCloser boxes;
    QTest::mouseClick(button(QStringLiteral("anyDeskButton")), Qt::LeftButton);
    QTest::qWait(200);
    QVERIFY(boxes.boxes().isEmpty());
    QVERIFY(button(QStringLiteral("anyDeskButton"))->isEnabled());
    QVERIFY(!QFile::exists(folder(QStringLiteral("starts.log"))));
    QVERIFY(QFile::rename(tool + QStringLiteral(".away"), tool));
}

void AuxProgrammsWidgetTest::usbDeviewCopyFollowsArchitecture_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("program");
    const QString x64 = QStringLiteral("USBDeview/USBDeviewx64/USBDeview.exe");
    const QString x32 = QStringLiteral("USBDeview/USBDeviewx32/USBDeview.exe");
    QTest::newRow("x86_64") << "x86_64" << x64;
    QTest::newRow("arm64") << "arm64" << x64;
    QTest::newRow("ia64") << "ia64" << x64;
    QTest::newRow("i386") << "i386" << x32;
    QTest::newRow("arm") << "arm" << x32;
    QTest::newRow("empty") << "" << x32;
}

void AuxProgrammsWidgetTest::usbDeviewCopyFollowsArchitecture()
{
    QFETCH(QString, architecture);
    QFETCH(QString, program);
    QCOMPARE(usbDeviewProgram(architecture), program);
}

VIGILOR_TEST_MAIN(AuxProgrammsWidgetTest)
#include "AuxProgrammsWidgetTest.moc"
