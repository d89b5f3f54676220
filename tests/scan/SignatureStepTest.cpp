#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"
#include "scan/SusProgrammsWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

// The prohibited-programs scan with the league's signatures: the step after the browsers, on a worker
// thread, over the rules' folders and the programs the traces name.
class SignatureStepTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signatureStepFindsFilesByContent();

private:
    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
};

namespace {
// Written backwards here, so that this program's own file, which the step scans as a running
// process's image, does not hold it.
QByteArray marker()
{
    QByteArray text("KRAM-PETS-ROLIGIV");
    std::reverse(text.begin(), text.end());
    return text;
}
} // namespace

void SignatureStepTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    const QString folder = temp.filePath(QStringLiteral("rule-folder"));
    QVERIFY(writeFile(folder + QStringLiteral("/a&amp;b.exe"), "xx " + marker()));
    QVERIFY(writeFile(folder + QStringLiteral("/clean.exe"), "nothing"));
    // What the player hid: a dot file, on Windows also hidden and system by its attributes.
    const QString hidden = folder + QStringLiteral("/.hidden.exe");
    QVERIFY(writeFile(hidden, marker()));
#ifdef Q_OS_WIN
    QVERIFY(SetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(hidden).utf16()),
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
#endif
    const QString loader = temp.filePath(QStringLiteral("elsewhere/renamed.bin"));
    QVERIFY(writeFile(loader, marker() + " yy"));
    environment.set("SystemRoot", temp.filePath(QStringLiteral("Windows")));
    environment.set("APPDATA", temp.filePath(QStringLiteral("Roaming")));
    // A desktop without hidden windows, asked: no line of theirs comes before the signatures'.
    QVERIFY(writeFile(temp.filePath(QStringLiteral("windows.txt")), QByteArray()));
    environment.set("VIGILOR_HIDDEN_WINDOWS", temp.filePath(QStringLiteral("windows.txt")));

    const QJsonArray rules{QJsonObject{{"desc", "Folder"}, {"roots", QJsonArray{folder}}, {"filename", "^never$"}}};
    const QString yara = QStringLiteral("rule step_marker { meta: desc = \"Loader <b>signature</b>\" level = 0 "
                                        "strings: $m = \"%1\" condition: $m }")
                             .arg(QString::fromLatin1(marker()));
    QVERIFY(serveCompleteContent(*server));
    server->setReply(
        QStringLiteral("detection_data"),
        okEnvelope("data",
                   QJsonDocument(QJsonObject{{"files", rules}, {"yara", yara}}).toJson(QJsonDocument::Compact)));
    // The traces name the loader outside every rule's folder.
    const QByteArray registry =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings\\S-1-5-21-9]\r\n\"" +
        QDir::toNativeSeparators(loader).replace(QLatin1Char('\\'), QStringLiteral("\\\\")).toUtf8() +
        "\"=hex:00,80,3e,d5,de,b1,9d,01\r\n";
    QVERIFY2(loadProcessWideLoader(environment, temp.path(), registry),
             qPrintable(ContentLoader::instance()->errorString()));
}

void SignatureStepTest::signatureStepFindsFilesByContent()
{
    SusProgrammsWidget page;
    QSignalSpy matched(&page, &SusProgrammsWidget::signatureMatched);
    QSignalSpy finished(&page, &SusProgrammsWidget::scanFinished);
    auto *button = page.findChild<QPushButton *>(QStringLiteral("scanButton"));
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] { ticks += button->isEnabled() ? 0 : 1; });
    tick.start(1);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled()); // the step runs on; the scan has not ended
    QCOMPARE(finished.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
    QVERIFY(button->isEnabled());
    QVERIFY(ticks > 0); // the window's event loop ran while the step did

    const QString hiddenHit = QFileInfo(temp.filePath(QStringLiteral("rule-folder/.hidden.exe"))).canonicalFilePath();
    const QString folderHit = QFileInfo(temp.filePath(QStringLiteral("rule-folder/a&amp;b.exe"))).canonicalFilePath();
    const QString traceHit = QFileInfo(temp.filePath(QStringLiteral("elsewhere/renamed.bin"))).canonicalFilePath();
    const QStringList lines = page.findChild<QTextBrowser *>(QStringLiteral("log"))->toPlainText().split('\n');
    QCOMPARE(lines.mid(0, 3), (QStringList{"Loader signature: " + hiddenHit + " [step_marker]",
                                           "Loader signature: " + folderHit + " [step_marker]",
                                           "Loader signature: " + traceHit + " [step_marker]"}));
    QVERIFY2(lines.value(3).startsWith(QStringLiteral("Сигнатуры: проверено файлов ")), qPrintable(lines.value(3)));
    QCOMPARE(page.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Всего обнаружений: 3"));
    QCOMPARE(matched.count(), 3);
    QCOMPARE(matched.at(1), (QVariantList{0, "Loader signature", "step_marker", folderHit, qint64(-1)}));
}

VIGILOR_TEST_MAIN(SignatureStepTest)
#include "SignatureStepTest.moc"
