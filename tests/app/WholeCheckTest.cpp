#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "app/MainWindow.h"
#include "content/ContentLoader.h"
#include "report/FindingCounts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

// The whole check from the information tab against the process-wide loader at the compiled-in URL: the
// four steps in order, each tab's own result, one report with every step's events and the counts the
// result shows, and a cancel during the traces.
class WholeCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyStepRunsAndTheReportIsSentOnce();
    void cancelDuringTracesKeepsTheScan();
    void aStepOfManyItemsMovesTheBarOncePerPercent();

private:
    // Presses the button and waits for the result; `reports` holds what the server received meanwhile.
    void runWholeCheck(MainWindow &window, const std::function<void()> &duringTraces = {});

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    QList<QJsonObject> reports;
};

void WholeCheckTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    QVERIFY(writeFile(temp.filePath(QStringLiteral("one/aimbot.exe")), "x"));
    QVERIFY(writeFile(temp.filePath(QStringLiteral("Steam/config/loginusers.vdf")),
                      "\"users\"\n{\n\t\"76561198000000001\"\n\t{\n\t\t\"PersonaName\"\t\t\"<b>p</b>\"\n\t}\n}\n"));
    const QJsonArray rules{QJsonObject{{"desc", "Чит"},
                                       {"roots", QJsonArray{temp.filePath(QStringLiteral("one"))}},
                                       {"filename", "aimbot"},
                                       {"level", 1}}};
    server->setReply(QStringLiteral("detection_data"),
                     okEnvelope("data", QJsonDocument(QJsonObject{{"files", rules}}).toJson(QJsonDocument::Compact)));
    server->setReply(
        QStringLiteral("bans"),
        okEnvelope("data", "{\"vac\":true,\"community\":false,\"game_bans\":0,\"days_since_last_ban\":3}"));
    server->setReply(QStringLiteral("report"), "{\"ok\":true,\"data\":{\"id\":\"AB12-CD34-EF56\",\"sha256\":\"00\"}}");
    QVERIFY2(loadProcessWideLoader(environment, temp.path(),
                                   registryWithFolders(temp.filePath(QStringLiteral("Games/csgo")),
                                                       temp.filePath(QStringLiteral("Steam")))),
             qPrintable(ContentLoader::instance()->errorString()));
}

void WholeCheckTest::runWholeCheck(MainWindow &window, const std::function<void()> &duringTraces)
{
    reports.clear();
    const int before = server->bodiesOf(QStringLiteral("report")).size();
    auto *start = window.findChild<QPushButton *>(QStringLiteral("wholeCheckButton"));
    auto *cancel = window.findChild<QPushButton *>(QStringLiteral("cancelButton"));
    auto *tracesBar = window.findChild<QWidget *>(QStringLiteral("TracesWidget"))
                          ->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QMetaObject::Connection hook;
    if (duringTraces)
        hook = connect(tracesBar, &QProgressBar::valueChanged, this, [&] {
            disconnect(hook);
            duringTraces();
        });
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!start->isEnabled() && cancel->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton); // a second press does nothing
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), 120000);
    disconnect(hook);
    for (const QByteArray &body : server->bodiesOf(QStringLiteral("report")).mid(before))
        reports.append(QJsonDocument::fromJson(body).object());
}

namespace {
QStringList typesOf(const QJsonArray &events)
{
    QStringList types;
    for (const QJsonValue &event : events)
        types.append(event.toObject().value(QStringLiteral("type")).toString());
    return types;
}
} // namespace

void WholeCheckTest::everyStepRunsAndTheReportIsSentOnce()
{
    MainWindow window;
    runWholeCheck(window);
    QCOMPARE(reports.size(), 1);
    const QJsonArray events = reports.first().value(QStringLiteral("events")).toArray();
    QCOMPARE(typesOf(events), (QStringList{"scan", "traces", "drivers", "account", "whole_check"}));
    // The counts shown are the report's own findings.
    const FindingCounts counts = countFindings(events);
    const QJsonObject summary = events.last().toObject();
    QCOMPARE(summary.value(QStringLiteral("violations")).toInt(), counts.total[FindingCounts::Violations]);
    QCOMPARE(summary.value(QStringLiteral("attention")).toInt(), counts.total[FindingCounts::Attention]);
    QCOMPARE(summary.value(QStringLiteral("not_checked")).toInt(), counts.total[FindingCounts::NotChecked]);
    QVERIFY(!summary.contains(QStringLiteral("cancelled_at")));
    // The rule's hit and the VAC ban at least; each tab shows its result as after its own button.
    QVERIFY(counts.total[FindingCounts::Violations] >= 2);
    const QString result = window.findChild<QLabel *>(QStringLiteral("resultLabel"))->text();
    QVERIFY2(result.contains(QStringLiteral("Нарушения: %1").arg(counts.total[FindingCounts::Violations])),
             qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("\">Аккаунты: 1</a>")) &&
                 result.contains(QStringLiteral("<a href=\"account\"")),
             qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("Код отчёта: AB12-CD34-EF56")), qPrintable(result));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("SusProgrammsWidget"))
                ->findChild<QTextBrowser *>(QStringLiteral("log"))
                ->toPlainText()
                .contains(QStringLiteral("Чит: ")));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("AccountsWidget"))
                ->findChild<QTextBrowser *>(QStringLiteral("log"))
                ->toPlainText()
                .contains(QStringLiteral("<b>p</b> ( 76561198000000001 ) [VAC]")));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("DriversWidget"))
                ->findChild<QListWidget *>(QStringLiteral("linesList"))
                ->count() > 0);
    // A link opens the tab that holds the part.
    auto *tabs = window.findChild<QTabWidget *>();
    emit window.findChild<QLabel *>(QStringLiteral("resultLabel"))->linkActivated(QStringLiteral("account"));
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("AccountsWidget"));
}

void WholeCheckTest::cancelDuringTracesKeepsTheScan()
{
    MainWindow window;
    auto *cancel = window.findChild<QPushButton *>(QStringLiteral("cancelButton"));
    runWholeCheck(window, [cancel] { cancel->click(); });
    QCOMPARE(reports.size(), 1);
    const QJsonArray events = reports.first().value(QStringLiteral("events")).toArray();
    QCOMPARE(typesOf(events), (QStringList{"scan", "traces", "whole_check"}));
    // The scan's hit stays in the report.
    QCOMPARE(events.first()
                 .toObject()
                 .value(QStringLiteral("findings"))
                 .toArray()
                 .first()
                 .toObject()
                 .value(QStringLiteral("kind")),
             QJsonValue(QStringLiteral("rule")));
    QCOMPARE(events.last().toObject().value(QStringLiteral("cancelled_at")).toString(),
             QStringLiteral("2 из 4: следы запуска"));
    QVERIFY(window.findChild<QLabel *>(QStringLiteral("resultLabel"))
                ->text()
                .contains(QStringLiteral("Проверка отменена на шаге 2 из 4: следы запуска")));
}

void WholeCheckTest::aStepOfManyItemsMovesTheBarOncePerPercent()
{
    // A page that moves its bar once per item of a hundred thousand must not wake the window's bar as often.
    QWidget page;
    auto *bar = new QProgressBar(&page);
    bar->setObjectName(QStringLiteral("progressBar"));
    WholeCheck check({{QStringLiteral("много"), &page, [bar] { bar->setRange(0, 99999); }, [] {}}});
    int passedOn = 0;
    connect(&check, &WholeCheck::progressed, this, [&passedOn] { ++passedOn; });
    check.start();
    for (int i = 0; i <= 99999; ++i)
        bar->setValue(i);
    QVERIFY2(passedOn <= 102, qPrintable(QString::number(passedOn)));
}

VIGILOR_TEST_MAIN(WholeCheckTest)
#include "WholeCheckTest.moc"
