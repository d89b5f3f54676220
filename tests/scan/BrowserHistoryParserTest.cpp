#include "scan/BrowserHistoryParser.h"
#include "HistoryDatabase.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

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
    void missingDatabaseIsNotCreated();
    void lockedDatabaseAnnouncesNothing();

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
    if (qstrcmp(QTest::currentTestFunction(), "suspicious") != 0)
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
    QTest::addColumn<int>("browser");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("image");

    QTest::newRow("chrome") << 0 << "../Local/Google/Chrome/User Data/Default/History"
                            << "chrome.exe";
    QTest::newRow("yandex") << 1 << "../Local/Yandex/YandexBrowser/User Data/Default/History"
                            << "browser.exe";
    QTest::newRow("opera") << 2 << "Opera Software/Opera Stable/History"
                           << "opera.exe";
}

void BrowserHistoryParserTest::termsNewestFirstAfterClosingTheBrowser()
{
    QFETCH(int, browser);
    QFETCH(QString, path);
    QFETCH(QString, image);

    QVERIFY(writeHistoryDatabase(roaming() + QLatin1Char('/') + path, {{3, QStringLiteral("three")},
                                                                       {1, QStringLiteral("one")},
                                                                       {7, QVariant()},
                                                                       {5, QStringLiteral("five")},
                                                                       {2, QStringLiteral("two")},
                                                                       {4, QStringLiteral("four")}}));
    std::unique_ptr<IBrowserHistoryParser> parser;
    if (browser == 0)
        parser = std::make_unique<ChromeBrowserHistoryParser>();
    else if (browser == 1)
        parser = std::make_unique<YandexBrowserHistoryParser>();
    else
        parser = std::make_unique<OperaBrowserHistoryParser>();
    QSignalSpy found(parser.get(), &IBrowserHistoryParser::elementsFound);

    QStringList terms{QStringLiteral("earlier")};
    QVERIFY(parser->parse(terms));

    QCOMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).toInt(), 5);
    // Appended, newest first; the row without a term is neither counted nor handed over.
    QCOMPARE(terms, (QStringList{"earlier", "five", "four", "three", "two", "one"}));
#ifndef Q_OS_WIN
    QTRY_COMPARE(readFile(temp->filePath(QStringLiteral("taskkill.log"))), "/im " + image.toUtf8() + " /f\n");
#endif
}

void BrowserHistoryParserTest::missingDatabaseIsNotCreated()
{
    const QString profile = roaming() + QStringLiteral("/Opera Software/Opera Stable");
    QVERIFY(QDir().mkpath(profile));
    OperaBrowserHistoryParser parser;
    QSignalSpy found(&parser, &IBrowserHistoryParser::elementsFound);
    QStringList terms;
    QVERIFY(!parser.parse(terms));
    QVERIFY(found.isEmpty());
    QVERIFY(terms.isEmpty());
    QVERIFY(!QFile::exists(profile + QStringLiteral("/History")));
}

void BrowserHistoryParserTest::lockedDatabaseAnnouncesNothing()
{
    const QString path = roaming() + QStringLiteral("/../Local/Google/Chrome/User Data/Default/History");
    QVERIFY(writeHistoryDatabase(path, {{1, QStringLiteral("cheat")}}));
    // A running browser holds its database with an exclusive lock.
    {
        QSqlDatabase browser = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("browser"));
        browser.setDatabaseName(path);
        QVERIFY(browser.open());
        QSqlQuery lock(browser);
        QVERIFY(lock.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(lock.exec(
            QStringLiteral("INSERT INTO keyword_search_terms (keyword_id, url_id, term) VALUES (1, 2, 'x')")));

        ChromeBrowserHistoryParser parser;
        QSignalSpy found(&parser, &IBrowserHistoryParser::elementsFound);
        QStringList terms;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(parser.parse(terms));
        // Without a short busy timeout each of the two queries would wait seconds.
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toInt(), 0);
        QVERIFY(terms.isEmpty());
        lock.exec(QStringLiteral("ROLLBACK"));
        browser.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("browser"));
}

VIGILOR_GUILESS_TEST_MAIN(BrowserHistoryParserTest)
#include "BrowserHistoryParserTest.moc"
