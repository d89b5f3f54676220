#include "scan/SusProgrammsWidget.h"
#include "HistoryDatabase.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

namespace {
struct Line
{
    QString colour;
    QString text;
    bool operator==(const Line &other) const { return colour == other.colour && text == other.text; }
};

char *toString(const Line &line)
{
    return qstrdup(qPrintable(line.colour + QStringLiteral(": ") + line.text));
}

// Each paragraph of the log with the colour of its text.
QList<Line> linesOf(const QTextBrowser *log)
{
    QList<Line> lines;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        if (block.text().isEmpty())
            continue;
        const QColor colour = block.begin().fragment().charFormat().foreground().color();
        QString word = colour == QColor(Qt::red)                    ? QStringLiteral("red")
                       : colour == QColor(QStringLiteral("orange")) ? QStringLiteral("orange")
                                                                    : colour.name();
        lines.append({word, block.text()});
    }
    return lines;
}
} // namespace

// The prohibited-programs page against the process-wide loader, loaded once from a loopback server at
// the compiled-in URL with rules that hit a prepared folder tree, registry and browser databases.
class SusProgrammsWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formAsDesigned();
    void scanReportsEveryFindingInOrder();
    void secondScanCountsAfresh();
    void scanLeavesBrowserDataUntouched();
    void unreadIsNamedNotCounted();
    void withoutBrowsersTheBarFollowsTheRules();

private:
    void scan();
    QString folder(const QString &name) const { return temp.filePath(name); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    std::unique_ptr<SusProgrammsWidget> page;
    QList<Line> expected;
    QList<Line> hiddenLines; // the windows hidden from capture, after the browsers' terms
    QString chromeHistory;
};

void SusProgrammsWidgetTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);

    // The examined machine.
    QVERIFY(writeFile(folder(QStringLiteral("one/cheat.txt")), "x"));
    QVERIFY(writeFile(folder(QStringLiteral("one/notes.txt")), "x"));
    QVERIFY(writeFile(folder(QStringLiteral("two/a.exe")), "x"));
    QVERIFY(writeFile(folder(QStringLiteral("two/&lt;s&gt;b.exe")), "x"));
    QVERIFY(writeFile(folder(QStringLiteral("two/renamed.dat")), "MZ loader"));
    environment.set("APPDATA", folder(QStringLiteral("AppData/Roaming")));
    environment.set("VIGILOR_TEST_ONE", folder(QStringLiteral("one")));
    QVERIFY(!installRecordingProgram(environment, folder(QStringLiteral("bin")), QStringLiteral("taskkill")).isEmpty());
#ifndef Q_OS_WIN // Windows asks its own desktop; WindowsTest hides a window there
    // A cheat's menu kept out of screen capture, its title and image as the machine gives them.
    QVERIFY(writeFile(folder(QStringLiteral("windows.txt")), "4242\t/opt/<m>.exe\tAim <b>menu</b>\nnot a window\n"));
    environment.set("VIGILOR_HIDDEN_WINDOWS", folder(QStringLiteral("windows.txt")));
    hiddenLines = {{"red", "Окно скрыто от записи экрана: Aim <b>menu</b> (/opt/<m>.exe, PID 4242)"}};
#endif

    const QString longTerm = QString(200, QLatin1Char('x')) + QStringLiteral("hack") + QString(46, QLatin1Char('y'));
    chromeHistory = folder(QStringLiteral("AppData/Local/Google/Chrome/User Data/Default/History"));
    QVERIFY(writeHistoryDatabase(chromeHistory, {{1, QStringLiteral("weather")},
                                                 {2, QStringLiteral("cheat engine")},
                                                 {3, longTerm},
                                                 {4, QStringLiteral("<span style='color:white'>aim</span>")},
                                                 {5, QVariant()},
                                                 {6, QStringLiteral("Cheat Engine")}}));
    QVERIFY(writeHistoryDatabase(folder(QStringLiteral("AppData/Local/Yandex/YandexBrowser/User Data/Default/History")),
                                 {{1, QStringLiteral("читы кс")}}));
    // Other profiles and browsers name their source, escaped like the term.
    QVERIFY(writeHistoryDatabase(folder(QStringLiteral("AppData/Local/Google/Chrome/User Data/Profile 1/History")),
                                 {{1, QStringLiteral("aimbot")}}));
    QVERIFY(writeHistoryDatabase(folder(QStringLiteral("AppData/Local/BraveSoftware/Brave-Browser/User Data/"
                                                       "A&amp;B/History")),
                                 {{1, QStringLiteral("rage")}}));

    // Ten rules: five with hits (two by a file's digest, whatever its name), five without.
    QJsonArray rules{
        QJsonObject{{"desc", "Orange <b>bold</b>"},
                    {"roots", QJsonArray{"%vigilor_test_one%"}},
                    {"filename", "cheat"},
                    {"level", 0}},
        QJsonObject{{"desc", "Red"},
                    {"roots", QJsonArray{folder(QStringLiteral("two"))}},
                    {"filename", "\\.exe$"},
                    {"level", 1}},
        QJsonObject{{"desc", "Key"},
                    {"roots", QJsonArray{"SOFTWARE\\Vendor\\One", "SOFTWARE\\Missing", "SOFTWARE\\Vendor\\Two"}},
                    {"registry", true},
                    {"level", 2}},
        QJsonObject{
            {"desc", "Digest"},
            {"roots", QJsonArray{folder(QStringLiteral("two"))}},
            {"sha256", QJsonArray{QString::fromLatin1(
                           QCryptographicHash::hash("MZ loader", QCryptographicHash::Sha256).toHex().toUpper())}},
            {"level", 1}},
        // SHA-1 digests decide as SHA-256 ones do: a name alone is no hit.
        QJsonObject{{"desc", "Sha1"},
                    {"roots", QJsonArray{folder(QStringLiteral("two"))}},
                    {"filename", "^(a\\.exe|renamed\\.dat)$"},
                    {"sha1", QJsonArray{QString::fromLatin1(
                                 QCryptographicHash::hash("MZ loader", QCryptographicHash::Sha1).toHex())}},
                    {"level", 1}}};
    for (int i = 0; i < 5; ++i)
        rules.append(QJsonObject{{"desc", "None"}, {"roots", QJsonArray{folder(QStringLiteral("missing"))}}});
    QVERIFY(serveCompleteContent(*server));
    server->setReply(QStringLiteral("detection_data"),
                     okEnvelope("data", QJsonDocument(QJsonObject{{"files", rules}}).toJson(QJsonDocument::Compact)));
    QVERIFY2(loadProcessWideLoader(environment, temp.path(),
                                   registryWithFolders(QStringLiteral("/g"), QStringLiteral("/s")) +
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\One]\r\n"
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Two]\r\n"),
             qPrintable(ContentLoader::instance()->errorString()));

    expected = {{"orange", "Orange bold: " + folder(QStringLiteral("one/cheat.txt"))},
                {"red", "Red: " + folder(QStringLiteral("two/&lt;s&gt;b.exe"))},
                {"red", "Red: " + folder(QStringLiteral("two/a.exe"))},
                {"red", "Key: SOFTWARE\\Vendor\\One"},
                {"red", "Key: SOFTWARE\\Vendor\\Two"},
                {"red", "Digest: " + folder(QStringLiteral("two/renamed.dat"))},
                {"red", "Sha1: " + folder(QStringLiteral("two/renamed.dat"))},
                {"orange", "Подозрительный запрос: <span style='color:white'>aim</span>"},
                {"orange", "Подозрительный запрос: " + longTerm.left(100)},
                {"orange", "Подозрительный запрос: cheat engine"},
                {"orange", "Подозрительный запрос: aimbot (Google Chrome, Profile 1)"},
                {"orange", "Подозрительный запрос: читы кс"},
                {"orange", "Подозрительный запрос: rage (Brave, A&amp;B)"}};
    expected += hiddenLines;
    page = std::make_unique<SusProgrammsWidget>();
}

void SusProgrammsWidgetTest::scan()
{
    QSignalSpy finished(page.get(), &SusProgrammsWidget::scanFinished);
    QTest::mouseClick(page->findChild<QPushButton *>(QStringLiteral("scanButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
}

void SusProgrammsWidgetTest::formAsDesigned()
{
    QCOMPARE(page->objectName(), QStringLiteral("SusProgrammsWidget"));
    QCOMPARE(page->size(), QSize(752, 304));
    QCOMPARE(page->findChild<QPushButton *>(QStringLiteral("scanButton"))->text(), QStringLiteral("Сканировать"));
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Всего обнаружений: 0"));
    auto *bar = page->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
    QVERIFY(page->findChild<QTextBrowser *>(QStringLiteral("log")));
}

void SusProgrammsWidgetTest::scanReportsEveryFindingInOrder()
{
    QSignalSpy matched(page.get(), &SusProgrammsWidget::ruleMatched);
    QSignalSpy terms(page.get(), &SusProgrammsWidget::suspiciousTermFound);
    QSignalSpy hidden(page.get(), &SusProgrammsWidget::windowHidden);
    scan();
    // Announced for the record as plain text.
    QCOMPARE(matched.first(), (QVariantList{0, "Orange bold", folder(QStringLiteral("one/cheat.txt"))}));
    QCOMPARE(terms.last(), (QVariantList{"rage", "Brave", "A&amp;B"}));
    QCOMPARE(hidden.size(), hiddenLines.size());
    if (!hidden.isEmpty())
        QCOMPARE(hidden.first().mid(0, 3), (QVariantList{"Aim <b>menu</b>", "/opt/<m>.exe", 4242}));
    QCOMPARE(linesOf(page->findChild<QTextBrowser *>(QStringLiteral("log"))), expected);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Всего обнаружений: %1").arg(expected.size()));
    // 10 rules, then the 6 Chrome terms, 1 Yandex term and 1 Brave term announced.
    auto *bar = page->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QCOMPARE(bar->maximum(), 9 + 8);
    QCOMPARE(bar->value(), bar->maximum());
#ifndef Q_OS_WIN // Windows runs its own taskkill, from the system folder
    // Each browser is ended by a taskkill of its own, started detached: the order in which they reach
    // the log is the scheduler's, not the scan's.
    for (const char *image : {"chrome.exe", "browser.exe", "opera.exe", "msedge.exe", "firefox.exe"})
        QTRY_VERIFY2(readFile(folder(QStringLiteral("bin/taskkill.log"))).contains(QByteArray("/im ") + image + " /f"),
                     image);
#endif
}

void SusProgrammsWidgetTest::secondScanCountsAfresh()
{
    scan();
    scan();
    QCOMPARE(linesOf(page->findChild<QTextBrowser *>(QStringLiteral("log"))), expected);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Всего обнаружений: %1").arg(expected.size()));
}

void SusProgrammsWidgetTest::scanLeavesBrowserDataUntouched()
{
    const QByteArray before = readFile(chromeHistory);
    const QStringList profileBefore = QFileInfo(chromeHistory).dir().entryList(QDir::AllEntries | QDir::Hidden);
    scan();
    QCOMPARE(readFile(chromeHistory), before);
    QCOMPARE(QFileInfo(chromeHistory).dir().entryList(QDir::AllEntries | QDir::Hidden), profileBefore);
    QVERIFY(!QFile::exists(folder(QStringLiteral("AppData/Roaming/Opera Software/Opera Stable/History"))));
}

// What cannot be read is named in orange and recorded, but not counted: a view where the terms'
// table should be, and a file past 1 GiB that a digest rule would have to hash.
void SusProgrammsWidgetTest::unreadIsNamedNotCounted()
{
    const QString opera = folder(QStringLiteral("AppData/Roaming/Opera Software/Opera Stable/History"));
    QVERIFY(writeDatabase(opera, {"CREATE VIEW keyword_search_terms AS SELECT 1 AS url_id, 'cheat' AS term"}));
    const QString padded = folder(QStringLiteral("two/padded.bin"));
    QFile file(padded);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize((qint64(1) << 30) + 1));
    file.close();
    QSignalSpy notRead(page.get(), &SusProgrammsWidget::notRead);
    scan();
    QFile::remove(opera);
    QFile::remove(padded);
    const QString reason = QStringLiteral("keyword_search_terms — не таблица");
    const Line unreadFile{"orange", "Не прочитано: " + padded + " (больше 1 ГиБ)"};
    const Line unreadHistory{"orange",
                             "История браузера не прочитана: " + QDir::toNativeSeparators(opera) + " (" + reason + ")"};
    QList<Line> lines = linesOf(page->findChild<QTextBrowser *>(QStringLiteral("log")));
    QCOMPARE(lines.removeAll(unreadHistory), 1);
    QCOMPARE(lines.removeAll(unreadFile), 1);
    QCOMPARE(lines, expected);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Всего обнаружений: %1").arg(expected.size()));
    QCOMPARE(notRead.size(), 2);
    QCOMPARE(notRead.last(), (QVariantList{QDir::toNativeSeparators(opera), reason}));
}

void SusProgrammsWidgetTest::withoutBrowsersTheBarFollowsTheRules()
{
    QVERIFY(QDir(folder(QStringLiteral("AppData/Local"))).removeRecursively());
    scan();
    auto *bar = page->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QCOMPARE(bar->maximum(), 9);
    QCOMPARE(bar->value(), 9);
    QCOMPARE(linesOf(page->findChild<QTextBrowser *>(QStringLiteral("log"))), expected.mid(0, 7) + hiddenLines);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Всего обнаружений: %1").arg(7 + hiddenLines.size()));
}

VIGILOR_TEST_MAIN(SusProgrammsWidgetTest)
#include "SusProgrammsWidgetTest.moc"
