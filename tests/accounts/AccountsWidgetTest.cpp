#include "accounts/AccountsWidget.h"
#include "ModalCloser.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <mutex>

namespace {
// A loginusers.vdf as Steam writes it, with the given (key, persona name) accounts.
QByteArray loginUsers(const QList<QPair<QByteArray, QByteArray>> &accounts)
{
    QByteArray text = "\"users\"\n{\n";
    int i = 0;
    for (const auto &account : accounts) {
        text += "\t\"" + account.first + "\"\n\t{\n\t\t\"AccountName\"\t\t\"account" + QByteArray::number(i) +
                "\"\n\t\t\"PersonaName\"\t\t\"" + account.second +
                "\"\n\t\t\"RememberPassword\"\t\t\"1\"\n\t\t\"MostRecent\"\t\t\"" + (i == 0 ? "1" : "0") +
                "\"\n\t\t\"Timestamp\"\t\t\"" + QByteArray::number(1700000000 + i) + "\"\n\t}\n";
        ++i;
    }
    return text + "}\n";
}

QString colourWord(const QColor &colour)
{
    for (const char *word : {"red", "green", "yellow"})
        if (colour == QColor(QLatin1String(word)))
            return QLatin1String(word);
    return colour.name();
}
} // namespace

// The accounts page against the process-wide loader (loaded once from a loopback server at the
// compiled-in URL) and that server's ban lookups. With VIGILOR_TEST_WITHOUT_STEAM set, the registry
// names no Steam folder.
class AccountsWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void formAsDesigned();
    void countShownBeforeFirstLookupAndButtonLocked();
    void outcomes_data();
    void outcomes();
    void playerTextIsEscapedAndEncoded();
    void unreadableAccountList_data();
    void unreadableAccountList();
    void noSteamFolder();
    void unreachableServerLeavesEveryLineYellow();
    void scanAfterEmptyListEndsFull();

private:
    void scan() { QTest::mouseClick(page->findChild<QPushButton *>(QStringLiteral("scanButton")), Qt::LeftButton); }
    void setBansReply(const TestServer::Reply &reply);
    QString countText() const { return page->findChild<QLabel *>(QStringLiteral("found"))->text(); }
    QList<QPair<QString, QString>> lines() const;
    QString accountList() const { return temp.filePath(QStringLiteral("Steam/config/loginusers.vdf")); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    std::unique_ptr<AccountsWidget> page;
    bool withoutSteam = false;
};

void AccountsWidgetTest::initTestCase()
{
    withoutSteam = qEnvironmentVariableIsSet("VIGILOR_TEST_WITHOUT_STEAM");
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    QVERIFY2(loadProcessWideLoader(
                 environment, temp.path(),
                 withoutSteam ? QByteArray()
                              : registryWithFolders(QStringLiteral("/g"), temp.filePath(QStringLiteral("Steam")))),
             qPrintable(ContentLoader::instance()->errorString()));
    page = std::make_unique<AccountsWidget>();
}

void AccountsWidgetTest::init()
{
    if (withoutSteam != (qstrcmp(QTest::currentTestFunction(), "noSteamFolder") == 0))
        QSKIP("runs in the other configuration");
}

void AccountsWidgetTest::setBansReply(const TestServer::Reply &reply)
{
    server->setReply(QStringLiteral("bans"), reply);
}

QList<QPair<QString, QString>> AccountsWidgetTest::lines() const
{
    QList<QPair<QString, QString>> result;
    const QTextDocument *document = page->findChild<QTextBrowser *>(QStringLiteral("log"))->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (!block.text().isEmpty())
            result.append({colourWord(block.begin().fragment().charFormat().foreground().color()), block.text()});
    }
    return result;
}

void AccountsWidgetTest::formAsDesigned()
{
    QCOMPARE(page->objectName(), QStringLiteral("AccountsWidget"));
    QCOMPARE(page->size(), QSize(690, 303));
    QCOMPARE(page->findChild<QPushButton *>(QStringLiteral("scanButton"))->text(), QStringLiteral("Сканировать"));
    QCOMPARE(countText(), QStringLiteral("Всего найдено: 0"));
    QVERIFY(!page->findChild<QProgressBar *>(QStringLiteral("progressBar"))->isTextVisible());
}

void AccountsWidgetTest::countShownBeforeFirstLookupAndButtonLocked()
{
    QVERIFY(writeFile(
        accountList(),
        loginUsers({{"76561198000000001", "Ann"}, {"76561198000000002", "Bob"}, {"76561198000000003", "Cid"}})));
    setBansReply({200, okEnvelope("data", "{\"vac\":false,\"community\":false}"), 300});
    auto *bar = page->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    auto *button = page->findChild<QPushButton *>(QStringLiteral("scanButton"));
    QSignalSpy values(bar, &QProgressBar::valueChanged);
    QString countDuringFirstLookup;
    int linesDuringFirstLookup = -1;
    bool enabledDuringScan = true;
    QTimer::singleShot(150, this, [&] {
        countDuringFirstLookup = countText();
        linesDuringFirstLookup = lines().size();
        enabledDuringScan = button->isEnabled();
        // A second click while the first scan waits must not start another.
        QTest::mouseClick(button, Qt::LeftButton);
    });
    scan();
    QCOMPARE(countDuringFirstLookup, QStringLiteral("Всего найдено: 3"));
    QCOMPARE(linesDuringFirstLookup, 0);
    QVERIFY(!enabledDuringScan);
    QVERIFY(button->isEnabled());
    QCOMPARE(bar->maximum(), 2);
    QList<int> seen;
    for (const QList<QVariant> &value : values)
        seen.append(value.at(0).toInt());
    QCOMPARE(seen.mid(seen.size() - 3), (QList<int>{0, 1, 2}));
    QCOMPARE(lines().size(), 3);
    QCOMPARE(server->requests().filter(QStringLiteral("/bans?")).size(), 3);
}

void AccountsWidgetTest::outcomes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("markers");

    QTest::newRow("vac only") << 200 << okEnvelope("data", "{\"vac\":true,\"community\":false}") << "red"
                              << "[VAC]";
    QTest::newRow("community only") << 200 << okEnvelope("data", "{\"vac\":false,\"community\":true}") << "red"
                                    << "[COMMUNITY]";
    QTest::newRow("both") << 200 << okEnvelope("data", "{\"community\":true,\"vac\":true}") << "red"
                          << "[VAC][COMMUNITY]";
    QTest::newRow("neither") << 200 << okEnvelope("data", "{\"vac\":false,\"community\":false}") << "green"
                             << "";
    QTest::newRow("flags missing") << 200 << okEnvelope("data", "{}") << "green"
                                   << "";
    QTest::newRow("flags not booleans") << 200 << okEnvelope("data", "{\"vac\":\"true\",\"community\":1}") << "green"
                                        << "";
    QTest::newRow("refused with message") << 200
                                          << QByteArray("{\"ok\":false,\"message\":\"banned\",\"data\":"
                                                        "{\"vac\":true}}")
                                          << "green"
                                          << "";
    QTest::newRow("not json") << 200 << QByteArray("<html>") << "green"
                              << "";
    QTest::newRow("game bans, days") << 200
                                     << okEnvelope("data", "{\"vac\":false,\"community\":false,\"vac_bans\":0,"
                                                           "\"game_bans\":2,\"days_since_last_ban\":42}")
                                     << "red"
                                     << "[GAME BANS: 2] (42 дн. назад)";
    QTest::newRow("vac, days") << 200
                               << okEnvelope("data", "{\"vac\":true,\"community\":false,\"game_bans\":0,"
                                                     "\"days_since_last_ban\":0}")
                               << "red"
                               << "[VAC] (0 дн. назад)";
    QTest::newRow("days without a ban") << 200
                                        << okEnvelope("data", "{\"vac\":false,\"community\":false,\"game_bans\":0,"
                                                              "\"days_since_last_ban\":9}")
                                        << "green"
                                        << "";
    QTest::newRow("counts not numbers") << 200
                                        << okEnvelope("data", "{\"vac\":true,\"game_bans\":\"3\","
                                                              "\"days_since_last_ban\":-1}")
                                        << "red"
                                        << "[VAC]";
    QTest::newRow("bad gateway") << 502 << QByteArray("{\"ok\":false,\"message\":\"ban lookup unavailable\"}")
                                 << "yellow"
                                 << "";
    QTest::newRow("http error") << 500 << QByteArray("{\"ok\":true,\"data\":{\"vac\":true}}") << "yellow"
                                << "";
}

void AccountsWidgetTest::outcomes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, colour);
    QFETCH(QString, markers);

    QVERIFY(writeFile(accountList(), loginUsers({{"76561198000000001", "Ann"}})));
    setBansReply({status, body, 0});
    scan();
    QCOMPARE(lines(), (QList<QPair<QString, QString>>{{colour, "Ann ( 76561198000000001 ) " + markers}}));
    QCOMPARE(countText(), QStringLiteral("Всего найдено: 1"));
}

void AccountsWidgetTest::playerTextIsEscapedAndEncoded()
{
    QVERIFY(writeFile(accountList(), loginUsers({{"a&b#c?d=e", "<span style='color:green'>x</span><!--"}})));
    setBansReply({200, okEnvelope("data", "{\"vac\":true,\"community\":false}"), 0});
    scan();
    QCOMPARE(lines(),
             (QList<QPair<QString, QString>>{{"red", "<span style='color:green'>x</span><!-- ( a&b#c?d=e ) [VAC]"}}));
    QCOMPARE(server->requests().last(), QStringLiteral("/bans?account=a%26b%23c%3Fd%3De"));
}

void AccountsWidgetTest::unreadableAccountList_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("place"); // what stands at the file's name instead of a file
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << QByteArray() << ""
                             << "файл не найден или не открывается";
    QTest::newRow("a folder in its place") << QByteArray() << "folder"
                                           << "файл не найден или не открывается";
#ifndef Q_OS_WIN
    // Opened as a file, a FIFO would wait for a writer for ever.
    QTest::newRow("a FIFO in its place") << QByteArray() << "fifo"
                                         << "файл не найден или не открывается";
#endif
    QTest::newRow("unclosed quote") << QByteArray("\"users\" { \"1\" { \"PersonaName\" \"Ann }") << ""
                                    << "quote was opened but not closed.";
    QTest::newRow("markup in an include path") << QByteArray("users { #include \"<b>x</b>.vdf\" }") << ""
                                               << "cannot open included file \"<b>x</b>.vdf\"";
    QTest::newRow("key without value") << QByteArray("users { 1 { PersonaName /* x */ } }") << ""
                                       << "key declared, but no value";
}

void AccountsWidgetTest::unreadableAccountList()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, place);
    QFETCH(QString, reason);

    QFile::remove(accountList());
    QDir(accountList()).removeRecursively();
    if (place == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(accountList()));
    } else if (place == QLatin1String("fifo")) {
#ifndef Q_OS_WIN
        QCOMPARE(mkfifo(QFile::encodeName(accountList()).constData(), 0600), 0);
#endif
    } else if (!content.isEmpty()) {
        QVERIFY(writeFile(accountList(), content));
    }

    ModalCloser closer;
    scan();
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.boxes().at(0).icon, int(QMessageBox::Critical));
    QVERIFY2(closer.boxes().at(0).text.contains(accountList()), qPrintable(closer.boxes().at(0).text));
    QVERIFY2(closer.boxes().at(0).text.contains(reason), qPrintable(closer.boxes().at(0).text));
    QCOMPARE(closer.boxes().at(0).format, int(Qt::PlainText));
    QVERIFY(lines().isEmpty());
    QCOMPARE(countText(), QStringLiteral("Всего найдено: 0"));
    QVERIFY(page->findChild<QPushButton *>(QStringLiteral("scanButton"))->isEnabled());
    QDir(accountList()).removeRecursively();
    QFile::remove(accountList());
}

void AccountsWidgetTest::noSteamFolder()
{
    ModalCloser closer;
    scan();
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.boxes().at(0).text, QStringLiteral("Папка Steam не найдена, опция недоступна"));
    QCOMPARE(closer.boxes().at(0).icon, int(QMessageBox::Critical));
    QCOMPARE(countText(), QStringLiteral("Всего найдено: 0"));
    QVERIFY(lines().isEmpty());
}

void AccountsWidgetTest::unreachableServerLeavesEveryLineYellow()
{
    QVERIFY(writeFile(accountList(), loginUsers({{"1", "Ann"}, {"2", "Bob"}, {"3", ""}})));
    server->stop();
    scan();
    QList<QPair<QString, QString>> got = lines();
    std::sort(got.begin(), got.end());
    // The line of an account without a name starts with " ( ", whose space the browser does not show.
    QCOMPARE(got, (QList<QPair<QString, QString>>{
                      {"yellow", "( 3 ) "}, {"yellow", "Ann ( 1 ) "}, {"yellow", "Bob ( 2 ) "}}));
}

void AccountsWidgetTest::scanAfterEmptyListEndsFull()
{
    setBansReply({200, okEnvelope("data", "{\"vac\":false,\"community\":false}"), 0});
    auto *bar = page->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(writeFile(accountList(), "users { }"));
    scan();
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(writeFile(accountList(), loginUsers({{"76561198000000001", "Ann"}, {"76561198000000002", "Bob"}})));
    scan();
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1);
    QCOMPARE(bar->value(), 1);
}

VIGILOR_TEST_MAIN(AccountsWidgetTest)
#include "AccountsWidgetTest.moc"
