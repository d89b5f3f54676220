#include "rules/FileScanner.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "platform/RegistryHives.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class FileScannerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanFolder_data();
    void scanFolder();
    void placeholderRootIsExpanded();
    void registryKeys_data();
    void registryKeys();
    void missingRegistryFileMeansEmptyRegistry();

private:
    QTemporaryDir dir;
    QString folder;
    ScopedEnvironment environment;
};

void FileScannerTest::initTestCase()
{
    folder = dir.filePath(QStringLiteral("root"));
    QVERIFY(writeFile(folder + QStringLiteral("/cheat_loader.dll"), "x"));
    QVERIFY(writeFile(folder + QStringLiteral("/notes.txt"), "x"));
    QVERIFY(writeFile(folder + QStringLiteral("/.hidden_cheat.exe"), "x"));
    QVERIFY(writeFile(folder + QStringLiteral("/CHEATS/cheat_inside.exe"), "x"));
    QVERIFY(writeFile(folder + QStringLiteral("/aimbot.EXE"), "x"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a-file")), "x"));
}

void FileScannerTest::scanFolder_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("name order, case ignored") << "root"
                                              << "cheat" << QStringList{"cheat_loader.dll", "CHEATS"};
    QTest::newRow("empty pattern lists all")
        << "root"
        << "" << QStringList{".", "..", "aimbot.EXE", "cheat_loader.dll", "CHEATS", "notes.txt"};
    QTest::newRow("anchored whole name") << "root"
                                         << "^notes\\.txt$" << QStringList{"notes.txt"};
    QTest::newRow("anchored, no whole match") << "root"
                                              << "^cheat$" << QStringList();
    QTest::newRow("extension, case ignored") << "root"
                                             << "\\.exe$" << QStringList{"aimbot.EXE"};
    QTest::newRow("hidden entries unseen") << "root"
                                           << "hidden" << QStringList();
    QTest::newRow("no descent into sub-folders") << "root"
                                                 << "inside" << QStringList();
    QTest::newRow("invalid pattern") << "root"
                                     << "(cheat" << QStringList();
    QTest::newRow("missing folder") << "nowhere"
                                    << "" << QStringList();
    QTest::newRow("root is a file") << "a-file"
                                    << "" << QStringList();
    QTest::newRow("unset placeholder") << "%VIGILOR_UNSET_ROOT%"
                                       << "" << QStringList();
}

void FileScannerTest::scanFolder()
{
    QFETCH(QString, root);
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);

    const QString path = root.startsWith(QLatin1Char('%')) ? root : dir.filePath(root);
    QStringList expected;
    for (const QString &name : qAsConst(names))
        expected.append(QDir::cleanPath(path + QLatin1Char('/') + name)); // "." is the folder, ".." its parent
    FileScanner scanner;
    QCOMPARE(scanner.scanFolder(path, pattern), expected);
}

void FileScannerTest::placeholderRootIsExpanded()
{
    environment.set("VIGILOR_SCAN_ROOT", dir.path());
    FileScanner scanner;
    QCOMPARE(scanner.scanFolder(QStringLiteral("%vigilor_scan_root%/root"), QStringLiteral("^notes")),
             QStringList{folder + QStringLiteral("/notes.txt")});
}

void FileScannerTest::registryKeys_data()
{
    QTest::addColumn<QString>("subKey");
    QTest::addColumn<bool>("localMachine");
    QTest::addColumn<bool>("exists");

    QTest::newRow("section") << "SOFTWARE\\CheatVendor\\Loader" << true << true;
    QTest::newRow("other letter case") << "software\\cheatvendor\\LOADER" << true << true;
    QTest::newRow("parent of a section") << "SOFTWARE\\CheatVendor" << true << true;
    QTest::newRow("prefix that is no parent") << "SOFTWARE\\Cheat" << true << false;
    QTest::newRow("child of a section") << "SOFTWARE\\CheatVendor\\Loader\\Deeper" << true << false;
    QTest::newRow("other hive") << "SOFTWARE\\CheatVendor\\Loader" << false << false;
    QTest::newRow("current user key") << "SOFTWARE\\Valve\\Steam" << false << true;
    QTest::newRow("empty sub-key is the hive") << "" << true << true;
}

void FileScannerTest::registryKeys()
{
    QFETCH(QString, subKey);
    QFETCH(bool, localMachine);
    QFETCH(bool, exists);

    ScopedEnvironment registry;
    QVERIFY(useRegistry(registry, dir.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\CheatVendor\\Loader]\r\n\"Version\"=\"2\"\r\n\r\n"
                        "[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n"));
    FileScanner scanner;
    QCOMPARE(scanner.registryKeyExists(subKey, localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER), exists);
}

void FileScannerTest::missingRegistryFileMeansEmptyRegistry()
{
    ScopedEnvironment registry;
    registry.set("VIGILOR_REGISTRY_FILE", dir.filePath(QStringLiteral("missing.reg")));
    FileScanner scanner;
    QVERIFY(!scanner.registryKeyExists(QStringLiteral("SOFTWARE"), HKEY_LOCAL_MACHINE));
    QVERIFY(scanner.registryKeyExists(QString(), HKEY_LOCAL_MACHINE));
    registry.unset("VIGILOR_REGISTRY_FILE");
    QVERIFY(!scanner.registryKeyExists(QStringLiteral("SOFTWARE"), HKEY_CURRENT_USER));
}

VIGILOR_GUILESS_TEST_MAIN(FileScannerTest)
#include "FileScannerTest.moc"
