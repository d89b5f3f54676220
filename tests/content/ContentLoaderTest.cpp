#include "content/ContentLoader.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

class ContentLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void completeLoadFetchesEverythingInOrder();
    void completeLoadStopsRunningUtilities();
    void earlierDataFolderIsReplaced();
    void failures_data();
    void failures();
    void rulesFollowTheDocument();
    void versionOfAnotherTypeIsEmpty();
    void unwritableMotdFailsAfterCountingIt();
    void unpackerThatCannotStartFails();
    void unpackerThatHangsTimesOut();
    void unpackerFailures_data();
    void unpackerFailures();
    void unpackerGetsNoInput();
    void dataFolderThatSurvivesRemovalFailsTheLoad();
    void untrustedServerFailsTheLoad();
    void missingDriverListDoesNotBlockTheStart();

private:
    QList<int> partsOf(const QSignalSpy &spy) const;
    bool installUnpacker(const QString &behaviour);

    TestPki pki;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<QTemporaryDir> bin;
    std::unique_ptr<ScopedEnvironment> environment;
    QString startDir;
};

// Serves the recording stand-in as the unpacking tool, behaving as `behaviour` says once downloaded.
bool ContentLoaderTest::installUnpacker(const QString &behaviour)
{
    server->setReply(QStringLiteral("unzip/exe"), recorderProgram());
    return writeFile(temp->filePath(QStringLiteral("unzip.exe.record")), "behaviour=" + behaviour.toUtf8() + '\n');
}

void ContentLoaderTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER(pki, server);
    startDir = QDir::currentPath();
}

void ContentLoaderTest::init()
{
    temp = std::make_unique<QTemporaryDir>();
    bin = std::make_unique<QTemporaryDir>();
    environment = std::make_unique<ScopedEnvironment>();
    // The loader's temporary folder and a taskkill that only records how it was called.
    setTemporaryFolder(*environment, temp->path());
    QVERIFY(!installRecordingProgram(*environment, bin->path(), QStringLiteral("taskkill")).isEmpty());
    // Both folders known, so that loading shows no warnings.
    QVERIFY(useRegistry(*environment, bin->filePath(QStringLiteral("registry.reg")),
                        registryWithFolders(QStringLiteral("/games/csgo-root"), QStringLiteral("/steam"))));
    QVERIFY(serveCompleteContent(*server));
}

void ContentLoaderTest::cleanup()
{
    QDir::setCurrent(startDir);
    environment.reset();
}

QList<int> ContentLoaderTest::partsOf(const QSignalSpy &spy) const
{
    QList<int> parts;
    for (const QList<QVariant> &arguments : spy)
        parts.append(arguments.at(0).toInt());
    return parts;
}

void ContentLoaderTest::completeLoadFetchesEverythingInOrder()
{
    ContentLoader loader(server->baseUrl());
    QSignalSpy parts(&loader, &ContentLoader::partLoaded);
    const int before = server->requests().size();

    QVERIFY2(loader.load(), qPrintable(loader.errorString()));

    QCOMPARE(partsOf(parts), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    QCOMPARE(server->requests().mid(before), (QStringList{"/version", "/detection_data", "/motd", "/unzip/dll",
                                                          "/unzip/exe", "/pack", "/everything", "/drivers"}));
    QCOMPARE(loader.driverList()->size(), 1);
    QVERIFY(loader.driverList()->byName(QStringLiteral("rtcore64.SYS")));
    QVERIFY(loader.driverListError().isEmpty());
    QCOMPARE(loader.version(), QStringLiteral("0.0.1"));
    QCOMPARE(loader.motd(), QStringLiteral("<p>Vigilor ${version}</p>"));
    QCOMPARE(loader.everythingPattern(), QStringLiteral("cheat|hack"));
    QVERIFY(loader.rules().isEmpty());
    QVERIFY(loader.errorString().isEmpty());
    QCOMPARE(loader.gameDir(), QStringLiteral("/games/csgo-root"));
    QCOMPARE(loader.steamDir(), QStringLiteral("/steam"));

    const QString tempDir = temp->path();
    QCOMPARE(readFile(tempDir + QStringLiteral("/motd.html")), QByteArray("<p>Vigilor ${version}</p>"));
    QCOMPARE(readFile(tempDir + QStringLiteral("/unzip32.dll")), QByteArray("unpacker library"));
    QVERIFY(QFile::exists(tempDir + QStringLiteral("/data.zip")));
    // The tools resolve against the working directory, which is now the unpacked folder.
    QCOMPARE(QDir::current().canonicalPath(), QDir(tempDir + QStringLiteral("/data")).canonicalPath());
    QVERIFY(QFile::exists(QStringLiteral("Everything.exe")));
    QVERIFY(QFile::exists(QStringLiteral("USBDeview/USBDeviewx64/USBDeview.exe")));
}

void ContentLoaderTest::completeLoadStopsRunningUtilities()
{
    ContentLoader loader(server->baseUrl());
    QVERIFY(loader.load());
    const QString log = bin->filePath(QStringLiteral("taskkill.log"));
    // taskkill runs detached; give the six children a moment to write.
    QTRY_COMPARE(readFile(log).count('\n'), 6);
    QStringList calls = QString::fromUtf8(readFile(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    calls.sort();
    QCOMPARE(calls,
             (QStringList{"/im AnyDesk.exe /f", "/im Everything.exe /f", "/im LastActivityView.exe /f",
                          "/im ProcessHacker.exe /f", "/im USBDeview.exe /f", "/im shellbag_analyzer_cleaner.exe /f"}));
}

void ContentLoaderTest::earlierDataFolderIsReplaced()
{
    const QString stale = temp->path() + QStringLiteral("/data/left-from-last-run.txt");
    QVERIFY(writeFile(stale, "old"));
    ContentLoader loader(server->baseUrl());
    QVERIFY(loader.load());
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(temp->path() + QStringLiteral("/data/AnyDesk.exe")));
}

void ContentLoaderTest::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("lastPart");

    const QString httpError = QStringLiteral("server replied: Internal Server Error");
    QTest::newRow("version: http error") << "version" << 500 << QByteArray() << httpError << 0;
    QTest::newRow("version: not json") << "version" << 200 << QByteArray("<html>") << "JSON parse error: illegal value"
                                       << 1;
    QTest::newRow("version: refused") << "version" << 200 << QByteArray("{\"ok\":false,\"message\":\"maintenance\"}")
                                      << "Request failed: maintenance" << 1;
    QTest::newRow("version: no member") << "version" << 200 << QByteArray("{\"ok\":true}") << "Invalid response" << 1;
    QTest::newRow("rules: http error") << "detection_data" << 500 << QByteArray() << httpError << 1;
    QTest::newRow("rules: no information")
        << "detection_data" << 200 << QByteArray("{\"ok\":0}") << "Request failed: no further information" << 2;
    QTest::newRow("rules: no data") << "detection_data" << 200 << QByteArray("{\"ok\":true}") << "Invalid response"
                                    << 2;
    QTest::newRow("rules: no files") << "detection_data" << 200 << QByteArray("{\"ok\":true,\"data\":{}}")
                                     << "Invalid response" << 2;
    QTest::newRow("rules: data not an object")
        << "detection_data" << 200 << QByteArray("{\"ok\":true,\"data\":[1]}") << "Invalid response" << 2;
    QTest::newRow("rules: signatures do not compile")
        << "detection_data" << 200
        << QByteArray(
               R"({"ok":true,"data":{"files":[],"yara":"rule a { condition: true }\nrule b { condition: $x }"}})")
        << "Invalid response: YARA: undefined string \"$x\" (line 2)" << 2;
    QTest::newRow("motd: http error") << "motd" << 500 << QByteArray() << httpError << 2;
    QTest::newRow("unzip dll: http error") << "unzip/dll" << 404 << QByteArray() << "server replied: Not Found" << 3;
    QTest::newRow("unzip exe: http error") << "unzip/exe" << 500 << QByteArray() << httpError << 4;
    QTest::newRow("pack: http error") << "pack" << 500 << QByteArray() << httpError << 5;
    QTest::newRow("everything: http error") << "everything" << 500 << QByteArray() << httpError << 6;
    QTest::newRow("everything: no data") << "everything" << 200 << QByteArray("{\"ok\":true}") << "Invalid response"
                                         << 7;
    QTest::newRow("everything: refused") << "everything" << 200 << QByteArray("{\"ok\":false}")
                                         << "Request failed: no further information" << 7;
}

void ContentLoaderTest::failures()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QFETCH(int, lastPart);

    server->setReply(path, TestServer::Reply{status, body, 0});
    ContentLoader loader(server->baseUrl());
    QSignalSpy parts(&loader, &ContentLoader::partLoaded);
    QVERIFY(!loader.load());
    if (status == 200)
        QCOMPARE(loader.errorString(), error);
    else
        QVERIFY2(loader.errorString().contains(error), qPrintable(loader.errorString()));
    QCOMPARE(parts.isEmpty() ? 0 : parts.last().at(0).toInt(), lastPart);
    // Nothing after the failing step was asked for.
    QVERIFY(server->requests().last().endsWith(path));
}

void ContentLoaderTest::rulesFollowTheDocument()
{
    server->setReply(QStringLiteral("detection_data"),
                     okEnvelope("data", "{\"files\":[{\"desc\":\"A\",\"roots\":[\"%appdata%\",7],\"filename\":\"x\","
                                        "\"level\":1},\"not an object\",{\"desc\":\"B\",\"registry\":true}]}"));
    ContentLoader loader(server->baseUrl());
    QVERIFY(loader.load());
    const QList<DetectionRule> rules = loader.rules();
    QCOMPARE(rules.size(), 3);
    QCOMPARE(rules.at(0).desc, QStringLiteral("A"));
    QCOMPARE(rules.at(0).roots, (QStringList{"%appdata%", ""}));
    QCOMPARE(rules.at(0).level, 1);
    QCOMPARE(rules.at(1).desc, QString());
    QVERIFY(rules.at(1).roots.isEmpty());
    QVERIFY(rules.at(2).registry);
}

void ContentLoaderTest::versionOfAnotherTypeIsEmpty()
{
    server->setReply(QStringLiteral("version"), okEnvelope("version", "3"));
    ContentLoader loader(server->baseUrl());
    QVERIFY(loader.load());
    QCOMPARE(loader.version(), QString());
}

void ContentLoaderTest::unwritableMotdFailsAfterCountingIt()
{
    QVERIFY(QDir().mkpath(temp->path() + QStringLiteral("/motd.html")));
    ContentLoader loader(server->baseUrl());
    QSignalSpy parts(&loader, &ContentLoader::partLoaded);
    QVERIFY(!loader.load());
    QCOMPARE(loader.errorString(), QStringLiteral("Failed to write file"));
    QCOMPARE(parts.last().at(0).toInt(), 3);
}

void ContentLoaderTest::unpackerThatCannotStartFails()
{
    server->setReply(QStringLiteral("unzip/exe"), "this is no program");
    ContentLoader loader(server->baseUrl());
    QVERIFY(!loader.load());
#ifdef Q_OS_WIN
    const QLatin1String badFormat("0x000000c1"); // ERROR_BAD_EXE_FORMAT
#else
    const QLatin1String badFormat("Exec format error");
#endif
    QVERIFY2(loader.errorString().contains(badFormat), qPrintable(loader.errorString()));
    QVERIFY(!server->requests().last().endsWith(QLatin1String("everything")));
}

void ContentLoaderTest::unpackerThatHangsTimesOut()
{
    QVERIFY(installUnpacker(QStringLiteral("hang")));
    ContentLoader loader(server->baseUrl());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!loader.load());
    QCOMPARE(loader.errorString(), QStringLiteral("Process operation timed out"));
    QVERIFY(clock.elapsed() >= 30000);
}

void ContentLoaderTest::unpackerFailures_data()
{
    QTest::addColumn<QByteArray>("unpacker"); // empty: the real unzip, else the stand-in's behaviour
    QTest::addColumn<QByteArray>("pack");
    QTest::addColumn<QString>("error");
    QTest::newRow("corrupt archive") << QByteArray() << QByteArray("PK but no archive")
                                     << "The unpacking tool failed with exit status 9";
    QTest::newRow("empty archive") << QByteArray() << QByteArray() << "The unpacking tool failed with exit status 9";
    QTest::newRow("crash") << QByteArray("crash") << QByteArray("PK") << "The unpacking tool crashed";
}

void ContentLoaderTest::unpackerFailures()
{
    QFETCH(QByteArray, unpacker);
    QFETCH(QByteArray, pack);
    QFETCH(QString, error);
    if (!unpacker.isEmpty())
        QVERIFY(installUnpacker(QString::fromLatin1(unpacker)));
    server->setReply(QStringLiteral("pack"), pack);
    ContentLoader loader(server->baseUrl());
    QVERIFY(!loader.load());
    QVERIFY2(loader.errorString().startsWith(error), qPrintable(loader.errorString()));
    QVERIFY(!server->requests().last().endsWith(QLatin1String("everything")));
}

void ContentLoaderTest::unpackerGetsNoInput()
{
    // A tool that asks a question (unzip does, for a file it would replace) gets end of input at once.
    QVERIFY(installUnpacker(QStringLiteral("ask")));
    ContentLoader loader(server->baseUrl());
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
}

void ContentLoaderTest::dataFolderThatSurvivesRemovalFailsTheLoad()
{
    const QString locked = temp->path() + QStringLiteral("/data/locked.exe");
    QVERIFY(writeFile(locked, "old"));
#ifdef Q_OS_WIN
    // Held open without leave to delete it, as a running tool holds its own file.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(locked).utf16()),
                                      GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(handle != INVALID_HANDLE_VALUE);
    ContentLoader loader(server->baseUrl());
    const bool loaded = loader.load();
    CloseHandle(handle);
#else
    // An immutable file stands in for one a running tool or the player keeps locked.
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), locked}) != 0)
        QSKIP("chattr cannot make a file immutable here");
    ContentLoader loader(server->baseUrl());
    const bool loaded = loader.load();
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), locked});
#endif
    QVERIFY(!loaded);
    QCOMPARE(loader.errorString(),
             QStringLiteral("Cannot remove the old folder %1").arg(QDir::toNativeSeparators(temp->path() + "/data")));
    QVERIFY(!server->requests().last().endsWith(QLatin1String("everything")));
}

void ContentLoaderTest::untrustedServerFailsTheLoad()
{
    TestPki stranger;
    QVERIFY(stranger.isValid());
    TestServer impostor(stranger);
    QVERIFY(impostor.start());
    QVERIFY(serveCompleteContent(impostor, QStringLiteral("9.9")));

    ContentLoader loader(impostor.baseUrl());
    QSignalSpy parts(&loader, &ContentLoader::partLoaded);
    QVERIFY(!loader.load());
    QVERIFY(!loader.errorString().isEmpty());
    QVERIFY(parts.isEmpty());
    QCOMPARE(loader.version(), QString());
}

// A server without the driver list still lets the check start; the loss is said, not hidden.
void ContentLoaderTest::missingDriverListDoesNotBlockTheStart()
{
    server->setReply(QStringLiteral("drivers"), TestServer::Reply{404, "not found", 0});
    ContentLoader loader(server->baseUrl());
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
    QVERIFY(loader.errorString().isEmpty());
    QCOMPARE(loader.driverList()->size(), 0);
    QVERIFY(!loader.driverListError().isEmpty());
}

VIGILOR_TEST_MAIN(ContentLoaderTest)
#include "ContentLoaderTest.moc"
