#include "rules/PathPlaceholders.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QDir>
#include <QTest>

class PathPlaceholdersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void expand_data();
    void expand();

private:
    ScopedEnvironment environment;
};

void PathPlaceholdersTest::initTestCase()
{
    environment.set("APPDATA", QStringLiteral("/home/player/AppData/Roaming"));
    environment.set("a", QStringLiteral("1"));
    environment.set("c", QStringLiteral("3"));
    environment.set("VIGILOR_EMPTY", QString());
    environment.set("VIGILOR_NESTED", QStringLiteral("%APPDATA%"));
    environment.set("VIGILOR_CASE", QStringLiteral("upper"));
    environment.set("vigilor_case", QStringLiteral("lower"));
    environment.set("Vigilor_Mixed", QStringLiteral("mixed"));
    environment.set("VIGILOR_DRIVE", QStringLiteral("D:"));
    environment.set("VIGILOR_WINDOWS_PATH", QStringLiteral("C:\\Users\\player"));
    environment.unset("NOSUCHVARIABLE");
    environment.unset("nosuchvariable");
}

void PathPlaceholdersTest::expand_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("asFolder");
    QTest::addColumn<QString>("expected"); // with forward slashes; made native below

    const QString appData = QStringLiteral("/home/player/AppData/Roaming");
    QTest::newRow("dots stay unresolved") << "%appdata%/../Local/Temp" << true << appData + "/../Local/Temp/";
    QTest::newRow("no tokens") << "C:/Games/x" << false << "C:/Games/x";
    QTest::newRow("no tokens, folder") << "C:/Games/x" << true << "C:/Games/x/";
    QTest::newRow("slash already there") << "C:/Games/x/" << true << "C:/Games/x/";
    QTest::newRow("backslash already there") << "C:\\Games\\x\\" << true << "C:\\Games\\x\\";
    QTest::newRow("unset name kept") << "%nosuchvariable%/x" << false << "%nosuchvariable%/x";
    QTest::newRow("no game folder") << "%gamedir%/csgo" << false << "/csgo";
    QTest::newRow("game folder in mixed case") << "%GameDir%/csgo" << false << "/csgo";
    QTest::newRow("lone percent") << "100%/x" << false << "100%/x";
    QTest::newRow("two percent signs") << "%%/x" << false << "%%/x";
    QTest::newRow("percent and space") << "% appdata%" << false << "% appdata%";
    QTest::newRow("dot inside is no token") << "%app.data%" << false << "%app.data%";
    QTest::newRow("literal between tokens") << "%a%b%c%" << false << "1b3";
    QTest::newRow("adjacent tokens") << "%a%%c%" << false << "13";
#ifdef Q_OS_WIN
    // Windows keeps no empty variable: setting one to nothing removes it.
    QTest::newRow("set but empty removed") << "%vigilor_empty%/x" << false << "%vigilor_empty%/x";
#else
    QTest::newRow("set but empty removed") << "%vigilor_empty%/x" << false << "/x";
#endif
    QTest::newRow("token twice") << "%appdata%;%appdata%" << false << appData + ";" + appData;
    QTest::newRow("mixed case twice") << "%APPDATA%|%appdata%" << false << appData + "|" + appData;
    QTest::newRow("inserted text not searched") << "%vigilor_nested%" << false << "%APPDATA%";
    QTest::newRow("exact spelling wins") << "%vigilor_case%" << false << "lower";
#ifdef Q_OS_WIN
    // Windows has one variable under every spelling: the value set last.
    QTest::newRow("upper spelling next") << "%Vigilor_CASE%" << false << "lower";
#else
    QTest::newRow("upper spelling next") << "%Vigilor_CASE%" << false << "upper";
#endif
    QTest::newRow("drive letter") << "%vigilor_drive%/Games" << true << "D:/Games/";
    QTest::newRow("backslash path") << "%Vigilor_Windows_Path%\\AppData" << false << "C:\\Users\\player\\AppData";
    QTest::newRow("any other spelling last") << "%VIGILOR_MIXED%" << false << "mixed";
    QTest::newRow("empty text, folder") << "" << true << "/";
}

void PathPlaceholdersTest::expand()
{
    QFETCH(QString, text);
    QFETCH(bool, asFolder);
    QFETCH(QString, expected);
    QCOMPARE(expandPath(text, asFolder), QDir::toNativeSeparators(expected));
}

VIGILOR_GUILESS_TEST_MAIN(PathPlaceholdersTest)
#include "PathPlaceholdersTest.moc"
