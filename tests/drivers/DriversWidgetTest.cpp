#include "drivers/DriversWidget.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "TraceFixtures.h"
#include "content/ContentLoader.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

// The drivers page against the process-wide loader and its list: checking off the GUI thread, the
// lines in their colours, the table, "only matches" and the announcement for the record.
class DriversWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void checkingFillsTheLinesAndTheTable();
};

void DriversWidgetTest::checkingFillsTheLinesAndTheTable()
{
    TestPki pki;
    std::unique_ptr<TestServer> server;
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    const QByteArray monitor = peImage("monitor");
    server->setReply(
        QStringLiteral("drivers"),
        okEnvelope("data", "{\"drivers\":[{\"name\":\"mon<b>.sys\",\"category\":\"vulnerable\",\"sha256\":[\"" +
                               QCryptographicHash::hash(monitor, QCryptographicHash::Sha256).toHex() + "\"]}]}"));
    QTemporaryDir temp;
    ScopedEnvironment environment;
    const QString windows = temp.filePath(QStringLiteral("Windows"));
    environment.set("SystemRoot", windows);
    environment.set("VIGILOR_CODE_INTEGRITY", QStringLiteral("2"));
    environment.unset("VIGILOR_KERNEL_DEBUGGER");
    environment.unset("VIGILOR_EVENT_LOG");
    environment.unset("VIGILOR_USN_JOURNAL");
    QVERIFY(writeFile(windows + QStringLiteral("/System32/drivers/mon.sys"), monitor));
    QVERIFY(writeFile(windows + QStringLiteral("/System32/drivers/disk.sys"), peImage("disk")));
    QVERIFY(writeFile(temp.filePath(QStringLiteral("loaded.txt")),
                      "\\SystemRoot\\System32\\drivers\\mon.sys\n\\SystemRoot\\System32\\drivers\\disk.sys\n"));
    environment.set("VIGILOR_LOADED_DRIVERS", temp.filePath(QStringLiteral("loaded.txt")));
    QVERIFY2(loadProcessWideLoader(environment, temp.path(), QByteArray()),
             qPrintable(ContentLoader::instance()->errorString()));

    DriversWidget page;
    auto *button = page.findChild<QPushButton *>(QStringLiteral("collectButton"));
    QCOMPARE(button->text(), QStringLiteral("Проверить драйверы"));
    QSignalSpy checked(&page, &DriversWidget::driversChecked);
    button->click();
    QVERIFY(!button->isEnabled());
    QVERIFY(checked.wait(20000));
    QVERIFY(button->isEnabled());

    auto *lines = page.findChild<QListWidget *>(QStringLiteral("linesList"));
    QStringList red, orange;
    for (int i = 0; i < lines->count(); ++i) {
        const QColor colour = lines->item(i)->foreground().color();
        if (colour == Qt::red)
            red.append(lines->item(i)->text());
        else if (colour == QColor(0xff, 0xa5, 0x00))
            orange.append(lines->item(i)->text());
    }
    QCOMPARE(red, (QStringList{QStringLiteral("Проверка подписи драйверов отключена"),
                               QStringLiteral("Включён тестовый режим подписи драйверов")}));
    QCOMPARE(orange, QStringList{QStringLiteral("Загружен драйвер из списка уязвимых: mon<b>.sys (%1)")
                                     .arg(windows + QStringLiteral("/System32/drivers/mon.sys"))});
    QCOMPARE(page.findChild<QLabel *>(QStringLiteral("countLabel"))->text(),
             QStringLiteral("Драйверов: 2, всего обнаружений: 2"));
    const QAbstractItemModel *table = page.findChild<QTableView *>(QStringLiteral("driversTable"))->model();
    QCOMPARE(table->rowCount(), 2);
    page.findChild<QCheckBox *>(QStringLiteral("onlyMatchesBox"))->setChecked(true);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->index(0, DriverTableModel::ListColumn).data().toString(), QStringLiteral("mon<b>.sys"));
    QCOMPARE(table->index(0, DriverTableModel::StateColumn).data().toString(), QStringLiteral("загружен"));
    QCOMPARE(table->index(0, DriverTableModel::SignatureColumn).data().toString(),
             QStringLiteral("подпись не проверена"));
    QCOMPARE(checked.first().first().value<DriverCheck>().rows.size(), 2);
}

VIGILOR_TEST_MAIN(DriversWidgetTest)
#include "DriversWidgetTest.moc"
