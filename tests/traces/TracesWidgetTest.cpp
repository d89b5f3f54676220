#include "traces/TracesWidget.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

// The traces page against the process-wide loader with a rule that looks at the traces: collecting
// off the GUI thread, the table, the signs, the filter and the record's announcement.
class TracesWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void collectingFillsTheTableAndTheSigns();
    void filterAndOnlyMatches();

private:
    QStringList column(int column) const;
    template <typename T> T *child(const char *name) const { return page->findChild<T *>(QLatin1String(name)); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    std::unique_ptr<TracesWidget> page;
};

void TracesWidgetTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    const QJsonArray rules{QJsonObject{{"desc", "Wall<b>hack</b>"}, {"filename", "wall"}, {"traces", true}}};
    server->setReply(QStringLiteral("detection_data"),
                     okEnvelope("data", QJsonDocument(QJsonObject{{"files", rules}}).toJson(QJsonDocument::Compact)));
    // Folders of the test's own, where the system's are not asked of the system.
    environment.set("SystemRoot", temp.filePath(QStringLiteral("Windows")));
    environment.set("APPDATA", temp.filePath(QStringLiteral("Roaming")));
    const QByteArray registry =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings\\S-1-5-21-7]\r\n"
        "\"C:\\\\Games\\\\wall&amp;hack.exe\"=hex:00,80,3e,d5,de,b1,9d,01\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
        "Assistant\\Store]\r\n\"C:\\\\Games\\\\other.exe\"=hex:00\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\r\n"
        "\"Start_TrackProgs\"=dword:00000000\r\n";
    QVERIFY2(loadProcessWideLoader(environment, temp.path(), registry),
             qPrintable(ContentLoader::instance()->errorString()));
    page = std::make_unique<TracesWidget>();
    QCOMPARE(child<QPushButton>("collectButton")->text(), QStringLiteral("Собрать следы"));
    QCOMPARE(child<QCheckBox>("onlyMatchesBox")->text(), QStringLiteral("Только совпадения"));
}

QStringList TracesWidgetTest::column(int column) const
{
    const QAbstractItemModel *model = child<QTableView>("tracesTable")->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts.append(model->index(row, column).data().toString());
    return texts;
}

void TracesWidgetTest::collectingFillsTheTableAndTheSigns()
{
    QSignalSpy collected(page.get(), &TracesWidget::tracesCollected);
    auto *button = child<QPushButton>("collectButton");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled()); // the collection runs on; the event loop has not yet seen its end
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(button->isEnabled());
    QCOMPARE(collected.count(), 1);
    QCOMPARE(child<QLabel>("countLabel")->text(), QStringLiteral("Следов: 2, совпадений: 1"));
    // Newest first; the machine's text as it is, never markup; the rule's description as plain text.
    QCOMPARE(column(TraceTableModel::ProgramColumn),
             (QStringList{"C:\\Games\\wall&amp;hack.exe", "C:\\Games\\other.exe"}));
    QCOMPARE(column(TraceTableModel::RuleColumn), (QStringList{"Wallhack", ""}));
    QCOMPARE(column(TraceTableModel::StateColumn), (QStringList{"удалён", "удалён"}));
    const QModelIndex first = child<QTableView>("tracesTable")->model()->index(0, 0);
    QCOMPARE(first.data(Qt::ForegroundRole).value<QColor>(), QColor(0xff, 0xa5, 0x00));
    auto *signs = child<QListWidget>("signsList");
    QList<QListWidgetItem *> tracking =
        signs->findItems(QStringLiteral("Отслеживание запуска программ отключено"), Qt::MatchStartsWith);
    QCOMPARE(tracking.size(), 1);
    QCOMPARE(tracking.first()->foreground().color(), QColor(Qt::red));
    // Pressed again: collected afresh.
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(collected.count(), 2);
    QCOMPARE(column(TraceTableModel::ProgramColumn).size(), 2);
}

void TracesWidgetTest::filterAndOnlyMatches()
{
    auto *filter = child<QLineEdit>("filterEdit");
    auto *only = child<QCheckBox>("onlyMatchesBox");
    filter->setText(QStringLiteral("OTHER"));
    QCOMPARE(column(TraceTableModel::ProgramColumn), QStringList{"C:\\Games\\other.exe"});
    filter->setText(QStringLiteral("c:\\games"));
    QCOMPARE(column(TraceTableModel::ProgramColumn).size(), 2);
    only->setChecked(true);
    QCOMPARE(column(TraceTableModel::ProgramColumn), QStringList{"C:\\Games\\wall&amp;hack.exe"});
    filter->clear();
    only->setChecked(false);
    // Rows without a time stay last either way the time column is sorted.
    child<QTableView>("tracesTable")->sortByColumn(TraceTableModel::TimeColumn, Qt::AscendingOrder);
    QCOMPARE(column(TraceTableModel::ProgramColumn).last(), QStringLiteral("C:\\Games\\other.exe"));
}

VIGILOR_TEST_MAIN(TracesWidgetTest)
#include "TracesWidgetTest.moc"
