#include "ModalCloser.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "app/LoadGate.h"
#include "app/MainWindow.h"
#include "app/PreloaderWidget.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

// Start-up as main() runs it, against the process-wide loader and so the compiled-in server URL.
// Each scenario needs a fresh process: ctest runs one per test function.
class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void successfulStartOpensMainWindow();
    void failedLoadShowsErrorBox();

private:
    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    QString startDir;
};

void StartupTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    setTemporaryFolder(environment, temp.path());
    QVERIFY(useRegistry(environment, temp.filePath(QStringLiteral("registry.reg")),
                        registryWithFolders(QStringLiteral("C:/Games/csgo"), QStringLiteral("C:/Steam"))));
    QVERIFY(serveCompleteContent(*server, QStringLiteral("0.1")));
    server->setReply(QStringLiteral("motd"), "<p>${version} and ${version} but ${VERSION}</p>");
}

void StartupTest::successfulStartOpensMainWindow()
{
    PreloaderWidget preloader;
    auto *bar = preloader.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QCOMPARE(preloader.windowTitle(), QStringLiteral("CS:GO Vigilor Preloader"));
    QCOMPARE(bar->maximum(), 8);
    QCOMPARE(bar->value(), -1); // no progress shown before the first reply

    {
        ModalCloser closer;
        QVERIFY(loadResources(&preloader));
        QVERIFY(closer.boxes().isEmpty());
    }
    QCOMPARE(bar->value(), 8);
    QVERIFY(!preloader.isVisible());

    bool windowVisibleDuringNotice = true;
    ModalCloser closer([&windowVisibleDuringNotice] {
        windowVisibleDuringNotice = false;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (qobject_cast<MainWindow *>(widget) && widget->isVisible())
                windowVisibleDuringNotice = true;
    });
    MainWindow window;
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("Обновление"));
    QCOMPARE(closer.boxes().at(0).text, QStringLiteral("Найдена новая версия: 0.1 (используется 0.0.1)"));
    QCOMPARE(closer.boxes().at(0).icon, int(QMessageBox::Information));
    QVERIFY(!windowVisibleDuringNotice);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("CS:GO Vigilor"));
    auto *tabs = window.findChild<QTabWidget *>();
    QVERIFY(tabs);
    const QStringList captions = {"Информация",         "Запрещенные программы", "Утилиты",  "Аккаунты",
                                  "Исправление ошибок", "Следы запуска",         "Драйверы", "Отчёт"};
    const QStringList pages = {"InfoWidget", "SusProgrammsWidget", "AuxProgrammsWidget", "AccountsWidget",
                               "FixWidget",  "TracesWidget",       "DriversWidget",      "ReportWidget"};
    QCOMPARE(tabs->count(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(tabs->tabText(i), captions.at(i));
        QCOMPARE(tabs->widget(i)->objectName(), pages.at(i));
    }
    QCOMPARE(tabs->currentIndex(), 0);
    // What a page announces reaches the report.
    emit qobject_cast<AuxProgrammsWidget *>(tabs->widget(2))->folderOpened(QStringLiteral("/announced/"));
    QVERIFY(tabs->widget(7)
                ->findChild<QTextBrowser *>(QStringLiteral("summary"))
                ->toPlainText()
                .contains(QStringLiteral("Открыта папка: /announced/")));

    auto *motd = tabs->widget(0)->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(motd);
    QCOMPARE(motd->toPlainText(), QStringLiteral("0.0.1 and 0.0.1 but ${VERSION}"));
}

void StartupTest::failedLoadShowsErrorBox()
{
    server->setReply(QStringLiteral("motd"), TestServer::Reply{500, "down", 0});
    PreloaderWidget preloader;
    auto *bar = preloader.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    int barWhileBoxShown = -2;
    bool preloaderShownWithBox = false;
    ModalCloser closer([&] {
        barWhileBoxShown = bar->value();
        preloaderShownWithBox = preloader.isVisible();
    });

    QVERIFY(!loadResources(&preloader));

    QCOMPARE(closer.boxes().size(), 1);
    const ModalCloser::Box box = closer.boxes().at(0);
    QCOMPARE(box.title, QStringLiteral("Ошибка"));
    QCOMPARE(box.icon, int(QMessageBox::Critical));
    QVERIFY2(box.text.startsWith(QStringLiteral("Не удалось загрузить ресурсы: ")), qPrintable(box.text));
    QVERIFY2(box.text.contains(QLatin1String("Internal Server Error")), qPrintable(box.text));
    QCOMPARE(barWhileBoxShown, 2);
    QVERIFY(preloaderShownWithBox);
    QVERIFY(!preloader.isVisible());
}

VIGILOR_TEST_MAIN(StartupTest)
#include "StartupTest.moc"
