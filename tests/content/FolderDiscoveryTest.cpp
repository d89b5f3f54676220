#include "ModalCloser.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

// The steps of loading that look at the machine: the TLS libraries and the game and Steam folders.
class FolderDiscoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void folders_data();
    void folders();
    void noDiscoveryWhenLoadingFails();
    void plantedTlsLibrariesAreNotCopied();

private:
    TestPki pki;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<ScopedEnvironment> environment;
    QString startDir;
};

namespace {
const QString kGameWarning = QStringLiteral("Папка игры не найдена, некоторые опции могут работать некорректно!");
const QString kSteamWarning = QStringLiteral("Папка Steam не найдена, некоторые опции могут работать некорректно!");
const QByteArray kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const QByteArray kGameKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 730]\r\n";
const QByteArray kSteamKey = "[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n";
} // namespace

void FolderDiscoveryTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER(pki, server);
    startDir = QDir::currentPath();
}

void FolderDiscoveryTest::init()
{
    temp = std::make_unique<QTemporaryDir>();
    environment = std::make_unique<ScopedEnvironment>();
    setTemporaryFolder(*environment, temp->filePath(QStringLiteral("tmp")));
    QVERIFY(QDir().mkpath(temp->filePath(QStringLiteral("tmp"))));
    environment->set("SYSTEMDRIVE", temp->filePath(QStringLiteral("drive")));
    QVERIFY(serveCompleteContent(*server));
}

void FolderDiscoveryTest::cleanup()
{
    QDir::setCurrent(startDir);
    environment.reset();
}

void FolderDiscoveryTest::folders_data()
{
    QTest::addColumn<QByteArray>("registry");
    QTest::addColumn<QString>("gameDir");
    QTest::addColumn<QString>("steamDir");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("both found") << kHeader + kGameKey + "\"InstallLocation\"=\"D:\\\\Games\\\\CS\"\r\n" + kSteamKey +
                                       "\"SteamPath\"=\"c:/program files (x86)/steam\"\r\n"
                                << "D:\\Games\\CS"
                                << "c:/program files (x86)/steam" << QStringList();
    QTest::newRow("no InstallLocation") << kHeader + kGameKey + "\"DisplayName\"=\"CS\"\r\n" + kSteamKey +
                                               "\"SteamPath\"=\"/steam\"\r\n"
                                        << ""
                                        << "/steam" << QStringList{kGameWarning};
    QTest::newRow("empty InstallLocation")
        << kHeader + kGameKey + "\"InstallLocation\"=\"\"\r\n" + kSteamKey + "\"SteamPath\"=\"/steam\"\r\n"
        << ""
        << "/steam" << QStringList{kGameWarning};
    QTest::newRow("value without its key") << kHeader +
                                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
                                                  "\"InstallLocation\"=\"/x\"\r\n" +
                                                  kSteamKey + "\"SteamPath\"=\"/steam\"\r\n"
                                           << ""
                                           << "/steam" << QStringList{kGameWarning};
    QTest::newRow("neither key") << kHeader << ""
                                 << "" << QStringList{kGameWarning, kSteamWarning};
    QTest::newRow("no Steam key") << kHeader + kGameKey + "\"InstallLocation\"=\"/games\"\r\n"
                                  << "/games"
                                  << "" << QStringList{kSteamWarning};
}

void FolderDiscoveryTest::folders()
{
    QFETCH(QByteArray, registry);
    QFETCH(QString, gameDir);
    QFETCH(QString, steamDir);
    QFETCH(QStringList, warnings);

    QVERIFY(useRegistry(*environment, temp->filePath(QStringLiteral("registry.reg")), registry));
    ContentLoader loader(server->baseUrl());
    ModalCloser closer;
    QVERIFY(loader.load());
    QCOMPARE(loader.gameDir(), gameDir);
    QCOMPARE(loader.steamDir(), steamDir);
    QStringList shown;
    for (const ModalCloser::Box &box : closer.boxes()) {
        QCOMPARE(box.title, QStringLiteral("Предупреждение"));
        QCOMPARE(box.icon, int(QMessageBox::Warning));
        shown.append(box.text);
    }
    QCOMPARE(shown, warnings);
}

void FolderDiscoveryTest::noDiscoveryWhenLoadingFails()
{
    server->setReply(QStringLiteral("everything"), TestServer::Reply{500, {}, 0});
    ContentLoader loader(server->baseUrl());
    ModalCloser closer;
    QVERIFY(!loader.load());
    QVERIFY(closer.boxes().isEmpty());
}

// A player's files in the folder the program starts from never become system libraries.
void FolderDiscoveryTest::plantedTlsLibrariesAreNotCopied()
{
    const QString start = temp->filePath(QStringLiteral("start"));
    QVERIFY(writeFile(start + QStringLiteral("/libssl-1_1-x64.dll"), "ssl"));
    QVERIFY(writeFile(start + QStringLiteral("/libcrypto-1_1-x64.dll"), "crypto"));
    const QString system32 = temp->filePath(QStringLiteral("drive/Windows/System32"));
    QVERIFY(QDir().mkpath(system32));
    QVERIFY(QDir::setCurrent(start));
    QVERIFY(useRegistry(*environment, temp->filePath(QStringLiteral("registry.reg")), registryWithFolders("/g", "/s")));

    ContentLoader loader(server->baseUrl());
    QVERIFY(loader.load());
    QCOMPARE(QDir(system32).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

VIGILOR_TEST_MAIN(FolderDiscoveryTest)
#include "FolderDiscoveryTest.moc"
