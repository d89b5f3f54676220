#include "report/ReportWidget.h"
#include "ModalCloser.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "report/CheckRecord.h"
#include "traces/ExecutionTraces.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

// The report page: its summary, saving the report and sending it to the server at the compiled-in URL.
class ReportWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void summaryFollowsTheRecord();
    void saveWritesHtmlAndJson();
    void failedSaveLeavesNoHalfFile();
    void sendFailuresKeepTheReportForARetry_data();
    void sendFailuresKeepTheReportForARetry();
    void manyTraceRowsOnScreenOnlyAsMatches();

private:
    TestPki pki;
    std::unique_ptr<TestServer> server;
    CheckRecord record;
    ReportWidget page;
    QTemporaryDir temp;
};

void ReportWidgetTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    page.setRecord(&record);
    page.findChild<QPlainTextEdit *>(QStringLiteral("noteEdit"))->setPlainText(QStringLiteral("note <b>x</b>"));
}

void ReportWidgetTest::summaryFollowsTheRecord()
{
    QCOMPARE(page.findChild<QPlainTextEdit *>(QStringLiteral("noteEdit"))->placeholderText(),
             QStringLiteral("Комментарий проверяющего"));
    record.utilityStarted(QStringLiteral("AnyDesk.exe"));
    const QString summary = page.findChild<QTextBrowser *>(QStringLiteral("summary"))->toPlainText();
    QVERIFY2(summary.contains(QStringLiteral("Запущена утилита: AnyDesk.exe")), qPrintable(summary));
    QVERIFY(summary.contains(QStringLiteral("note <b>x</b>")));
}

void ReportWidgetTest::saveWritesHtmlAndJson()
{
    QString error;
    QVERIFY2(page.saveTo(temp.filePath(QStringLiteral("r.html")), error), qPrintable(error));
    QVERIFY(readFile(temp.filePath(QStringLiteral("r.html"))).contains("note &lt;b&gt;x&lt;/b&gt;"));
    const QJsonObject saved = QJsonDocument::fromJson(readFile(temp.filePath(QStringLiteral("r.json")))).object();
    QCOMPARE(saved.value(QStringLiteral("format")).toString(), QStringLiteral("vigilor-report/1"));
    QCOMPARE(saved.value(QStringLiteral("note")).toString(), QStringLiteral("note <b>x</b>"));
}

void ReportWidgetTest::failedSaveLeavesNoHalfFile()
{
    // The HTML's name is taken by a folder: the JSON is written whole, the HTML cannot be.
    const QString folder = temp.filePath(QStringLiteral("taken"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/r.html")));
    QString error;
    QVERIFY(!page.saveTo(folder + QStringLiteral("/r.html"), error));
    QVERIFY2(error.contains(QStringLiteral("r.html")), qPrintable(error));
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(left == QStringList{"r.json"}, qPrintable(left.join(QLatin1Char(' '))));
    QVERIFY(QJsonDocument::fromJson(readFile(folder + QStringLiteral("/r.json"))).isObject());
}

void ReportWidgetTest::sendFailuresKeepTheReportForARetry_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("reason");

    QTest::newRow("too large") << 413 << 0 << "Payload Too Large";
    QTest::newRow("too many") << 429 << 0 << "Too Many Requests";
    QTest::newRow("server error") << 500 << 0 << "Internal Server Error";
    QTest::newRow("stalled") << 200 << 35000 << "No data from the server for 30 s";
}

void ReportWidgetTest::sendFailuresKeepTheReportForARetry()
{
    QFETCH(int, status);
    QFETCH(int, delayMs);
    QFETCH(QString, reason);

    auto *send = page.findChild<QPushButton *>(QStringLiteral("sendButton"));
    auto *label = page.findChild<QLabel *>(QStringLiteral("reportIdLabel"));
    label->clear();
    bool lockedWhileSending = false;
    server->setHandler(QStringLiteral("report"), [&](const std::string &, const std::string &) {
        lockedWhileSending = !send->isEnabled();
        return TestServer::Reply{status, "{\"ok\":false,\"message\":\"no\"}", delayMs};
    });
    {
        ModalCloser boxes;
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().title, QStringLiteral("Ошибка"));
        QVERIFY2(boxes.boxes().first().text.contains(reason), qPrintable(boxes.boxes().first().text));
    }
    QVERIFY(lockedWhileSending);
    QVERIFY(label->text().isEmpty());

    server->setHandler(QStringLiteral("report"), [&](const std::string &, const std::string &) {
        return TestServer::Reply{200,
                                 "{\"ok\":true,\"data\":{\"id\":\"AB12-CD34-EF56\",\"sha256\":\"00\","
                                 "\"received\":\"2026-12-07T10:00:00.000Z\"}}",
                                 0};
    });
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(label->text(), QStringLiteral("Отчёт отправлен, код: AB12-CD34-EF56"));
    QVERIFY(send->isEnabled());
    QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
}

// 40,000 trace rows: the page shows the matches and counts the rest; the saved report has them all.
void ReportWidgetTest::manyTraceRowsOnScreenOnlyAsMatches()
{
    TraceCollection collection;
    collection.collected = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 40000; ++i) {
        TraceRow row;
        row.path = QStringLiteral("C:\\Programs\\tool-%1.exe").arg(i);
        row.source = QStringLiteral("AppCompat Layers");
        row.matched = i % 20000 == 7;
        row.ruleDescription = row.matched ? QStringLiteral("Loader") : QString();
        collection.rows.append(row);
    }
    record.tracesCollected(collection);
    const QString summary = page.findChild<QTextBrowser *>(QStringLiteral("summary"))->toPlainText();
    QVERIFY(summary.contains(QStringLiteral("Следы запуска: 40000, совпадений: 2")));
    QVERIFY(summary.contains(QStringLiteral("tool-20007.exe")));
    QVERIFY(!summary.contains(QStringLiteral("tool-8.exe")));
    QString error;
    QVERIFY2(page.saveTo(temp.filePath(QStringLiteral("traces.html")), error), qPrintable(error));
    QVERIFY(readFile(temp.filePath(QStringLiteral("traces.html"))).contains("tool-39999.exe"));
}

VIGILOR_TEST_MAIN(ReportWidgetTest)
#include "ReportWidgetTest.moc"
