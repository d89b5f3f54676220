#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/ShortcutReader.h"

#include <QTemporaryDir>
#include <QTest>

// Shortcuts written here from the published layout, read through the library.
class RecentSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void shortcuts_data();
    void shortcuts();

private:
    QTemporaryDir scratch;
};

void RecentSourceTest::shortcuts_data()
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
    // The share's name runs on past its block into the path's suffix.
    QByteArray unterminated = shortcutFile({}, 0, "\\\\SERVER\\SHARE", "aim.exe");
    unterminated[76 + 0x1C + 20 + 14] = 'X';
    QTest::newRow("share name past its block") << unterminated << QString() << 0 << false;
    QTest::newRow("truncated") << shortcutFile("C:\\x.exe", 3).left(90) << QString() << 0 << false;
    QTest::newRow("no shortcut") << QByteArray("MZ\x90\0", 4) << QString() << 0 << false;
}

void RecentSourceTest::shortcuts()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, path);
    QFETCH(int, medium);
    QFETCH(bool, read);
    QString error;
    QString detail;
    const std::optional<ShortcutTarget> target = readShortcut(data, scratch.path(), error, &detail);
    QVERIFY2(bool(target) == read, qPrintable(error));
    QCOMPARE(error.isEmpty(), read);
    if (!read) {
        // The examiner reads why in their words; the library's stay for the log and the report.
        QCOMPARE(error, QStringLiteral("не ярлык или повреждён"));
        QVERIFY(!detail.isEmpty());
        return;
    }
    QCOMPARE(target->path, path);
    QCOMPARE(int(target->medium), medium);
}

VIGILOR_GUILESS_TEST_MAIN(RecentSourceTest)
#include "RecentSourceTest.moc"
