#include "scan/BrowserHistoryParser.h"
#include "FolderLink.h"
#include "HistoryDatabase.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <memory>

namespace {
// The browser check of the scan that shows its findings under `browser`.
std::unique_ptr<IBrowserHistoryParser> makeParser(const QString &browser)
{
    std::unique_ptr<IBrowserHistoryParser> found;
    for (IBrowserHistoryParser *parser : makeBrowserHistoryParsers()) {
        if (!found && parser->browserName() == browser)
            found.reset(parser);
        else
            delete parser;
    }
    return found;
}

QStringList textsOf(const QVector<SearchTerm> &terms)
{
    QStringList texts;
    for (const SearchTerm &term : terms)
        texts.append(term.term);
    return texts;
}

// "browser, profile" of each term, empty where the source is not shown.
QStringList sourcesOf(const QVector<SearchTerm> &terms)
{
    QStringList sources;
    for (const SearchTerm &term : terms)
        sources.append(term.sourceShown ? term.browser + QStringLiteral(", ") + term.profile : QString());
    return sources;
}

// Every file and folder below `root`, relative to it, sorted.
QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QDir(root).relativeFilePath(it.next()));
    entries.sort();
    return entries;
}
} // namespace

class BrowserHistoryParserTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void suspicious_data();
    void suspicious();
    void termsNewestFirstAfterClosingTheBrowser_data();
    void termsNewestFirstAfterClosingTheBrowser();
    void everyProfileDefaultFirst();
    void profilesLinkedToOneDatabaseReadItOnce();
    void profilesPastTheLimitAreNamed();
    void lockedDatabaseIsReadFromASnapshot();
    void firefoxProfilesRelativeAndAbsolute();
    void resultPageSearchTerm_data();
    void resultPageSearchTerm();
    void missingBrowserLeavesNoTrace_data();
    void missingBrowserLeavesNoTrace();
    void hostileDatabaseIsNamedNotRead_data();
    void hostileDatabaseIsNamedNotRead();
    void cleanlyClosedWriteAheadDatabaseGetsNoCompanions();

private:
    QString roaming() const { return temp->filePath(QStringLiteral("AppData/Roaming")); }

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<ScopedEnvironment> environment;
};

void BrowserHistoryParserTest::init()
{
    temp = std::make_unique<QTemporaryDir>();
    environment = std::make_unique<ScopedEnvironment>();
    environment->set("APPDATA", roaming());
    QVERIFY(!installRecordingProgram(*environment, temp->path(), QStringLiteral("taskkill")).isEmpty());
}

void BrowserHistoryParserTest::cleanup()
{
#ifndef Q_OS_WIN
    // The detached taskkill may still be writing; let it finish before the folder goes. (Windows runs
    // its own taskkill, which writes nothing here.)
    if (qstrcmp(QTest::currentTestFunction(), "suspicious") != 0 &&
        qstrcmp(QTest::currentTestFunction(), "resultPageSearchTerm") != 0)
        QTRY_VERIFY(QFile::exists(temp->filePath(QStringLiteral("taskkill.log"))));
#endif
    environment.reset();
}

void BrowserHistoryParserTest::suspicious_data()
{
    QTest::addColumn<QString>("term");
    QTest::addColumn<bool>("suspicious");

    QTest::newRow("cheat engine") << "cheat engine" << true;
    QTest::newRow("wallhack") << "csgo wallhack free" << true;
    QTest::newRow("cyrillic") << "читы кс" << true;
    QTest::newRow("aim inside claim") << "claim reward" << true;
    QTest::newRow("rage alone") << "rage" << true;
    QTest::newRow("rage inside storage") << "storage" << true;
    QTest::newRow("legit") << "legit config" << true;
    QTest::newRow("chams") << "chams" << true;
    QTest::newRow("case-sensitive") << "Cheat Engine" << false;
    QTest::newRow("cyrillic upper case") << "ЧИТЫ" << false;
    QTest::newRow("harmless") << "weather" << false;
    QTest::newRow("empty") << "" << false;
}

void BrowserHistoryParserTest::suspicious()
{
    QFETCH(QString, term);
    QFETCH(bool, suspicious);
    QCOMPARE(isSuspiciousTerm(term), suspicious);
}

void BrowserHistoryParserTest::termsNewestFirstAfterClosingTheBrowser_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("browser");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("sourceShown");

    QTest::newRow("chrome") << "../Local/Google/Chrome/User Data/Default/History"
                            << "chrome.exe"
                            << "Google Chrome"
                            << "Default" << false;
    QTest::newRow("yandex") << "../Local/Yandex/YandexBrowser/User Data/Default/History"
                            << "browser.exe"
                            << "Yandex Browser"
                            << "Default" << false;
    QTest::newRow("opera") << "Opera Software/Opera Stable/History"
                           << "opera.exe"
                           << "Opera"
                           << "Opera Stable" << false;
    QTest::newRow("edge") << "../Local/Microsoft/Edge/User Data/Default/History"
                          << "msedge.exe"
                          << "Microsoft Edge"
                          << "Default" << true;
    QTest::newRow("brave") << "../Local/BraveSoftware/Brave-Browser/User Data/Default/History"
                           << "brave.exe"
                           << "Brave"
                           << "Default" << true;
    QTest::newRow("vivaldi") << "../Local/Vivaldi/User Data/Default/History"
                             << "vivaldi.exe"
                             << "Vivaldi"
                             << "Default" << true;
    QTest::newRow("chromium") << "../Local/Chromium/User Data/Default/History"
                              << "chrome.exe"
                              << "Chromium"
                              << "Default" << true;
    QTest::newRow("opera gx") << "Opera Software/Opera GX Stable/History"
                              << "opera.exe"
                              << "Opera GX"
                              << "Opera GX Stable" << true;
}

void BrowserHistoryParserTest::termsNewestFirstAfterClosingTheBrowser()
{
    QFETCH(QString, path);
    QFETCH(QString, image);
    QFETCH(QString, browser);
    QFETCH(QString, profile);
    QFETCH(bool, sourceShown);

    QVERIFY(writeHistoryDatabase(roaming() + QLatin1Char('/') + path, {{3, QStringLiteral("three")},
                                                                       {1, QStringLiteral("one")},
                                                                       {7, QVariant()},
                                                                       {5, QStringLiteral("five")},
                                                                       {2, QStringLiteral("two")},
                                                                       {4, QStringLiteral("four")}}));
    const auto reader = makeParser(browser);
    QSignalSpy found(reader.get(), &IBrowserHistoryParser::elementsFound);

    QVector<SearchTerm> terms{{QStringLiteral("earlier"), QString(), QString(), false}};
    QVERIFY(reader->collect(terms));

    QCOMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).toInt(), 5);
    // Appended, newest first; the row without a term is neither counted nor handed over.
    QCOMPARE(textsOf(terms), (QStringList{"earlier", "five", "four", "three", "two", "one"}));
    QCOMPARE(terms.last().browser, browser);
    QCOMPARE(terms.last().profile, profile);
    QCOMPARE(terms.last().sourceShown, sourceShown);
#ifndef Q_OS_WIN
    QTRY_COMPARE(readFile(temp->filePath(QStringLiteral("taskkill.log"))), "/im " + image.toUtf8() + " /f\n");
#endif
}

void BrowserHistoryParserTest::everyProfileDefaultFirst()
{
    const QString userData = roaming() + QStringLiteral("/../Local/Google/Chrome/User Data/");
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Profile 2/History"), {{1, QStringLiteral("p2")}}));
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Default/History"), {{1, QStringLiteral("d")}}));
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Profile 1/History"), {{1, QStringLiteral("p1")}}));
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Guest Profile/History"), {{1, QStringLiteral("g")}}));
    QVERIFY(QDir().mkpath(userData + QStringLiteral("Crash Reports")));
    QVERIFY(writeFile(userData + QStringLiteral("System Profile/History"), "not a database"));

    ChromeBrowserHistoryParser parser;
    QSignalSpy found(&parser, &IBrowserHistoryParser::elementsFound);
    QVector<SearchTerm> terms;
    QVERIFY(parser.collect(terms));
    QCOMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).toInt(), 4);
    QCOMPARE(textsOf(terms), (QStringList{"d", "g", "p1", "p2"}));
    QCOMPARE(sourcesOf(terms),
             (QStringList{"", "Google Chrome, Guest Profile", "Google Chrome, Profile 1", "Google Chrome, Profile 2"}));
}

// Thirty profile folders that are links (junctions on Windows) to Default: one database, one read.
void BrowserHistoryParserTest::profilesLinkedToOneDatabaseReadItOnce()
{
    const QString userData = roaming() + QStringLiteral("/../Local/Google/Chrome/User Data/");
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Default/History"), {{1, QStringLiteral("d")}}));
    for (int i = 0; i < 30; ++i) {
        QString error;
        if (!makeFolderLink(QDir::cleanPath(userData + QStringLiteral("Profile %1").arg(i)),
                            QDir::cleanPath(userData + QStringLiteral("Default")), error))
            QSKIP(qPrintable(QStringLiteral("no folder links here: ") + error));
    }
    ChromeBrowserHistoryParser parser;
    QVector<SearchTerm> terms;
    QVERIFY(parser.collect(terms));
    QCOMPARE(textsOf(terms), QStringList{"d"});
}

void BrowserHistoryParserTest::profilesPastTheLimitAreNamed()
{
    const QString userData = roaming() + QStringLiteral("/../Local/Microsoft/Edge/User Data/");
    QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Default/History"), {{1, QStringLiteral("d")}}));
    for (int i = 1; i < kLargestBrowserProfiles + 6; ++i)
        QVERIFY(writeHistoryDatabase(userData + QStringLiteral("Profile %1/History").arg(i, 3, 10, QLatin1Char('0')),
                                     {{1, QStringLiteral("p%1").arg(i)}}));
    const std::unique_ptr<IBrowserHistoryParser> parser(new ChromiumHistoryParser(kChromiumBrowsers[3]));
    QVector<SearchTerm> terms;
    QVector<UnreadHistory> unread;
    QVERIFY(collectBrowserTerms({parser.get()}, terms, &unread).first());
    QCOMPARE(terms.size(), kLargestBrowserProfiles);
    QCOMPARE(unread.size(), 1);
    QCOMPARE(unread.first().path, QDir::toNativeSeparators(QDir::cleanPath(userData)));
    QCOMPARE(unread.first().reason, QStringLiteral("больше 64 профилей, прочитаны первые"));
}

void BrowserHistoryParserTest::lockedDatabaseIsReadFromASnapshot()
{
    const QString path = roaming() + QStringLiteral("/../Local/Google/Chrome/User Data/Default/History");
    QVERIFY(writeHistoryDatabase(path, {{1, QStringLiteral("cheat")}}));
    setTemporaryFolder(*environment, temp->filePath(QStringLiteral("tmp")));
    QVERIFY(QDir().mkpath(temp->filePath(QStringLiteral("tmp"))));
    // A running browser holds its database with an exclusive lock, a write under way in its journal.
    {
        QSqlDatabase browser = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("browser"));
        browser.setDatabaseName(path);
        QVERIFY(browser.open());
        QSqlQuery lock(browser);
        QVERIFY(lock.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(lock.exec(
            QStringLiteral("INSERT INTO keyword_search_terms (keyword_id, url_id, term) VALUES (1, 2, 'x')")));
        const QByteArray before = readFile(path);
        const QStringList profileBefore = treeOf(QFileInfo(path).path());

        ChromeBrowserHistoryParser parser;
        QSignalSpy found(&parser, &IBrowserHistoryParser::elementsFound);
        QStringList terms;
        QVERIFY(parser.parse(terms));
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toInt(), 1);
        QCOMPARE(terms, QStringList{"cheat"});
        QCOMPARE(readFile(path), before);
        QCOMPARE(treeOf(QFileInfo(path).path()), profileBefore);
        QCOMPARE(treeOf(temp->filePath(QStringLiteral("tmp"))), QStringList());
        lock.exec(QStringLiteral("ROLLBACK"));
        browser.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("browser"));
}

void BrowserHistoryParserTest::firefoxProfilesRelativeAndAbsolute()
{
    const QString firefox = roaming() + QStringLiteral("/Mozilla/Firefox");
    const QString elsewhere = temp->filePath(QStringLiteral("D/b.other"));
    QVERIFY(writeFile(firefox + QStringLiteral("/profiles.ini"),
                      "[Install4F96D1932A9F858E]\nDefault=Profiles/a.default-release\n\n"
                      "[Profile1]\nName=other\nIsRelative=0\nPath=" +
                          QDir::toNativeSeparators(elsewhere).toUtf8() +
                          "\n\n[Profile0]\nName=default-release\nIsRelative=1\nPath=Profiles/a.default-release\n"
                          "[Profile2]\nName=again\nIsRelative=1\nPath=Profiles/../Profiles/a.default-release\n"));
    QVERIFY(writeDatabase(firefox + QStringLiteral("/Profiles/a.default-release/formhistory.sqlite"),
                          {kFirefoxFormHistorySchema,
                           "INSERT INTO moz_formhistory VALUES (1, 'searchbar-history', 'old aim', 1, 1, 1, 'a')",
                           "INSERT INTO moz_formhistory VALUES (2, 'email', 'me@example.org', 1, 3, 3, 'b')",
                           "INSERT INTO moz_formhistory VALUES (3, 'searchbar-history', 'new cheat', 1, 2, 2, 'c')"}));
    // A running Firefox: places in write-ahead mode, the latest visits still in the -wal file.
    const QString places = elsewhere + QStringLiteral("/places.sqlite");
    QVERIFY(writeDatabase(places, {kFirefoxPlacesSchema}));
    {
        QSqlDatabase browser = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("browser"));
        browser.setDatabaseName(places);
        QVERIFY(browser.open());
        QSqlQuery query(browser);
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        QVERIFY(query.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0")));
        const QStringList urls{"https://www.google.de/search?q=csgo+wallhack&client=firefox",
                               "https://www.google.com/url?q=https://cheats.example/",
                               "https://www.bing.com/search?q=aim%2Bbot",
                               "https://example.org/?q=rage",
                               "https://yandex.ru/search/?text=%D1%87%D0%B8%D1%82%D1%8B&lr=213",
                               "https://duckduckgo.com/?q=legit+config&ia=web"};
        for (int i = 0; i < urls.size(); ++i)
            QVERIFY(query.exec(QStringLiteral("INSERT INTO moz_places (url, last_visit_date) VALUES ('%1', %2)")
                                   .arg(urls[i], QString::number(i))));
        QVERIFY(QFile::exists(places + QStringLiteral("-wal")));
        const QByteArray before = readFile(places) + readFile(places + QStringLiteral("-wal"));
        const QStringList profileBefore = treeOf(elsewhere);

        FirefoxBrowserHistoryParser parser;
        QVector<SearchTerm> terms;
        QVERIFY(parser.collect(terms));
        // Profiles in the file's order, each listed once; the search bar first, then result pages, newest first.
        QCOMPARE(textsOf(terms),
                 (QStringList{"legit config", "читы", "aim+bot", "csgo wallhack", "new cheat", "old aim"}));
        QCOMPARE(sourcesOf(terms).first(), QStringLiteral("Firefox, b.other"));
        QCOMPARE(sourcesOf(terms).last(), QStringLiteral("Firefox, a.default-release"));
        QCOMPARE(readFile(places) + readFile(places + QStringLiteral("-wal")), before);
        QCOMPARE(treeOf(elsewhere), profileBefore);
        browser.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("browser"));
}

void BrowserHistoryParserTest::resultPageSearchTerm_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("term");

    QTest::newRow("google, country domain") << "https://www.google.com.ua/search?q=aim+bot&oq=x"
                                            << "aim bot";
    QTest::newRow("google redirect") << "https://www.google.com/url?q=https%3A%2F%2Fa.example"
                                     << "";
    QTest::newRow("bing, plus sign") << "https://www.bing.com/search?form=QBLH&q=c%2B%2B+cheat"
                                     << "c++ cheat";
    QTest::newRow("ya.ru") << "https://ya.ru/search/?text=wallhack"
                           << "wallhack";
    QTest::newRow("duckduckgo html") << "https://html.duckduckgo.com/html/?q=chams"
                                     << "chams";
    QTest::newRow("other site") << "https://search.example/search?q=hack"
                                << "";
    QTest::newRow("not the web") << "ftp://www.google.com/search?q=hack"
                                 << "";
}

void BrowserHistoryParserTest::resultPageSearchTerm()
{
    QFETCH(QString, url);
    QFETCH(QString, term);
    QCOMPARE(searchTermOfResultPage(QUrl(url)), term);
}

void BrowserHistoryParserTest::missingBrowserLeavesNoTrace_data()
{
    QTest::addColumn<QString>("browser");
    QTest::addColumn<QString>("folder");

    QTest::newRow("chrome") << "Google Chrome"
                            << "../Local/Google/Chrome/User Data/Default";
    QTest::newRow("opera") << "Opera"
                           << "Opera Software/Opera Stable";
    QTest::newRow("edge") << "Microsoft Edge"
                          << "../Local/Microsoft/Edge/User Data";
    QTest::newRow("firefox") << "Firefox"
                             << "Mozilla/Firefox/Profiles/x.default";
}

void BrowserHistoryParserTest::missingBrowserLeavesNoTrace()
{
    QFETCH(QString, browser);
    QFETCH(QString, folder);
    QVERIFY(QDir().mkpath(roaming() + QLatin1Char('/') + folder));
    QVERIFY(writeFile(roaming() + QStringLiteral("/Mozilla/Firefox/profiles.ini"),
                      "[Profile0]\nIsRelative=1\nPath=Profiles/x.default\n"));
    const QStringList before = treeOf(temp->filePath(QStringLiteral("AppData")));

    const auto reader = makeParser(browser);
    QSignalSpy found(reader.get(), &IBrowserHistoryParser::elementsFound);
    QStringList terms;
    QVERIFY(!reader->parse(terms));
    QVERIFY(found.isEmpty());
    QVERIFY(terms.isEmpty());
    QCOMPARE(treeOf(temp->filePath(QStringLiteral("AppData"))), before);
}

void BrowserHistoryParserTest::hostileDatabaseIsNamedNotRead_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<QString>("reason");
    QTest::newRow("endless recursive view") << "view"
                                            << "keyword_search_terms — не таблица";
    QTest::newRow("2 GiB sparse, empty log beside") << "sparse"
                                                    << "больше 1 ГиБ";
#ifndef Q_OS_WIN
    QTest::newRow("FIFO as the log") << "fifo"
                                     << "History-wal: not a regular file";
#endif
}

// The player shapes the database; the scan ends at once, names it, and leaves nothing behind.
void BrowserHistoryParserTest::hostileDatabaseIsNamedNotRead()
{
    QFETCH(QString, plant);
    QFETCH(QString, reason);
    const QString path =
        QDir::cleanPath(roaming() + QStringLiteral("/../Local/Google/Chrome/User Data/Default/History"));
    if (plant == QLatin1String("view")) {
        QVERIFY(writeDatabase(path, {"CREATE VIEW keyword_search_terms AS WITH RECURSIVE r(url_id, term) AS "
                                     "(SELECT 1, 'cheat' UNION ALL SELECT url_id + 1, term FROM r) SELECT * FROM r"}));
    } else {
        QVERIFY(writeHistoryDatabase(path, {{1, QStringLiteral("cheat")}}));
        if (plant == QLatin1String("sparse")) {
            QFile file(path);
            QVERIFY(file.resize(qint64(2) << 30));
            QVERIFY(writeFile(path + QStringLiteral("-wal"), QByteArray()));
        } else {
#ifndef Q_OS_WIN
            QCOMPARE(mkfifo(QFile::encodeName(path + QStringLiteral("-wal")).constData(), 0600), 0);
#endif
        }
    }
    const QString tmp = temp->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tmp));
    setTemporaryFolder(*environment, tmp);
    const QStringList profileBefore = treeOf(QFileInfo(path).path());

    ChromeBrowserHistoryParser parser;
    QVector<SearchTerm> terms;
    QVector<UnreadHistory> unread;
    QVERIFY(parser.collect(terms, &unread));
    QVERIFY(terms.isEmpty());
    QCOMPARE(unread.size(), 1);
    QCOMPARE(unread.first().path, QDir::toNativeSeparators(path));
    QVERIFY2(unread.first().reason.endsWith(reason), qPrintable(unread.first().reason));
    QCOMPARE(treeOf(QFileInfo(path).path()), profileBefore);
    QCOMPARE(treeOf(tmp), QStringList());
}

// Firefox after a clean exit: write-ahead mode, no log. Read as it is, nothing made beside it.
void BrowserHistoryParserTest::cleanlyClosedWriteAheadDatabaseGetsNoCompanions()
{
    const QString firefox = roaming() + QStringLiteral("/Mozilla/Firefox");
    QVERIFY(
        writeFile(firefox + QStringLiteral("/profiles.ini"), "[Profile0]\nIsRelative=1\nPath=Profiles/x.default\n"));
    const QString profile = firefox + QStringLiteral("/Profiles/x.default");
    QVERIFY(writeDatabase(profile + QStringLiteral("/formhistory.sqlite"),
                          {QStringLiteral("PRAGMA journal_mode=WAL"), kFirefoxFormHistorySchema,
                           "INSERT INTO moz_formhistory VALUES (1, 'searchbar-history', 'aim', 1, 1, 1, 'a')"}));
    QCOMPARE(readFile(profile + QStringLiteral("/formhistory.sqlite")).mid(18, 2), QByteArray("\x02\x02"));
    const QStringList before = treeOf(profile);
    QCOMPARE(before, QStringList{"formhistory.sqlite"});

    FirefoxBrowserHistoryParser parser;
    QVector<SearchTerm> terms;
    QVERIFY(parser.collect(terms));
    QCOMPARE(textsOf(terms), QStringList{"aim"});
    QCOMPARE(treeOf(profile), before);
}

VIGILOR_GUILESS_TEST_MAIN(BrowserHistoryParserTest)
#include "BrowserHistoryParserTest.moc"
