// A full scan of the prohibited-programs page with 200 file rules of 3 roots each over folders of
// 10,000 entries (each rule hits about 1 % of a folder), beside the same 600 listings done by
// `ls -a DIR | grep -ci PATTERN` in the same run. The page reads its rules from the process-wide
// loader, which is loaded here from a loopback server at the compiled-in URL.
// Run: QT_QPA_PLATFORM=offscreen ./tab-scan-bench

#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"
#include "scan/SusProgrammsWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    constexpr int kRules = 200;
    constexpr int kEntries = 10000;
    TestPki pki;
    TestServer server(pki);
    QTemporaryDir temp;
    if (!pki.isValid() || !server.startAtContentServerUrl()) {
        out << "needs a free loopback port at the compiled-in content server URL\n";
        return 1;
    }
    pki.trustInThisProcess();
    ScopedEnvironment environment;
    setTemporaryFolder(environment, temp.path());
    environment.set("APPDATA", temp.filePath(QStringLiteral("AppData")));
    writeFile(temp.filePath(QStringLiteral("registry.reg")),
              registryWithFolders(QStringLiteral("/g"), QStringLiteral("/s")));
    environment.set("VIGILOR_REGISTRY_FILE", temp.filePath(QStringLiteral("registry.reg")));

    QStringList roots;
    for (int r = 0; r < 3; ++r) {
        const QString root = temp.filePath(QStringLiteral("root%1").arg(r));
        QDir().mkpath(root);
        for (int i = 0; i < kEntries; ++i) {
            QFile file(root + QStringLiteral("/entry_%1.dat").arg(i, 5, 10, QLatin1Char('0')));
            file.open(QIODevice::WriteOnly);
        }
        roots.append(root);
    }
    QJsonArray rules;
    QStringList patterns;
    for (int i = 0; i < kRules; ++i) {
        patterns.append(QStringLiteral("_\\d{3}%1\\.").arg(i % 100, 2, 10, QLatin1Char('0')));
        rules.append(QJsonObject{{"desc", QStringLiteral("Rule %1").arg(i)},
                                 {"roots", QJsonArray::fromStringList(roots)},
                                 {"filename", patterns.last()},
                                 {"level", i % 2}});
    }
    serveCompleteContent(server);
    server.setReply(QStringLiteral("detection_data"),
                    okEnvelope("data", QJsonDocument(QJsonObject{{"files", rules}}).toJson(QJsonDocument::Compact)));
    if (!ContentLoader::instance()->load()) {
        out << "load failed: " << ContentLoader::instance()->errorString() << "\n";
        return 1;
    }

    SusProgrammsWidget page;
    QElapsedTimer clock;
    clock.start();
    QSignalSpy finished(&page, &SusProgrammsWidget::scanFinished);
    QTest::mouseClick(page.findChild<QPushButton *>(QStringLiteral("scanButton")), Qt::LeftButton);
    // The browsers are read on a worker thread; the scan ends when the page says so.
    while (finished.isEmpty())
        QTest::qWait(10);
    const double scanMs = clock.nsecsElapsed() / 1e6;

    clock.restart();
    int shellHits = 0;
    for (const QString &pattern : qAsConst(patterns)) {
        for (const QString &root : qAsConst(roots)) {
            QProcess shell;
            shell.start(QStringLiteral("sh"),
                        {QStringLiteral("-c"), QStringLiteral("ls -a \"$0\" | grep -ciE \"$1\""), root,
                         QString(pattern).replace(QStringLiteral("\\d"), QStringLiteral("[0-9]"))});
            shell.waitForFinished(-1);
            shellHits += shell.readAllStandardOutput().trimmed().toInt();
        }
    }
    const double shellMs = clock.nsecsElapsed() / 1e6;
    out << QStringLiteral("%1 rules x %2 roots x %3 entries; page: %4; shell counted %5 hits\n")
               .arg(kRules)
               .arg(roots.size())
               .arg(kEntries)
               .arg(page.findChild<QLabel *>(QStringLiteral("label"))->text())
               .arg(shellHits)
        << QStringLiteral("page scan:           %1 ms\n").arg(scanMs, 0, 'f', 0)
        << QStringLiteral("ls -a | grep -ci:    %1 ms\n").arg(shellMs, 0, 'f', 0)
        << QStringLiteral("ratio page/shell:    %1\n").arg(scanMs / shellMs, 0, 'f', 2);
    return 0;
}
