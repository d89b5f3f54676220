#include "tools/FixWidget.h"
#include "ModalCloser.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QDirIterator>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include <map>

namespace {
const QStringList names{"models", "sound", "materials", "particles"};

// Which of the three buttons are enabled: fix, revert, delete.
using States = QList<bool>;
} // namespace

// The repair page against the process-wide loader, whose game folder is a test folder; every test
// starts from a fresh "csgo" folder. With VIGILOR_TEST_WITHOUT_GAME set, the registry names no game
// folder.
class FixWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void onlyFixEnabledAtStartEvenWithBackupsOnDisk();
    void operations_data();
    void operations();
    void deleteRemovesLinkedBackupAsLink_data();
    void deleteRemovesLinkedBackupAsLink();
    void noSequenceLosesContent();
    void noGameFolder_data();
    void noGameFolder();

private:
    QString csgo(const QString &path = QString()) const
    {
        return temp.filePath(QStringLiteral("game/csgo") + (path.isEmpty() ? QString() : QLatin1Char('/') + path));
    }
    // Makes folder `name` with a marker file naming its content, also one level down.
    bool makeFolder(const QString &name, const QString &content);
    // "folder=content" for every folder of csgo, sorted by folder name.
    QStringList folders() const;
    // Every marker's content with the path it lies at.
    std::map<QString, QString> markers() const;
    void press(const QString &operation);
    States states() const;
    QPushButton *button(const char *name) const { return page->findChild<QPushButton *>(QLatin1String(name)); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
    QTemporaryDir temp;
    ScopedEnvironment environment;
    std::unique_ptr<FixWidget> page;
    bool withoutGame = false;
};

bool FixWidgetTest::makeFolder(const QString &name, const QString &content)
{
    return writeFile(csgo(name + QStringLiteral("/marker")), content.toUtf8()) &&
           writeFile(csgo(name + QStringLiteral("/sub/marker")), content.toUtf8() + " (sub)");
}

QStringList FixWidgetTest::folders() const
{
    QStringList result;
    for (const QString &name : QDir(csgo()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        result.append(name + QLatin1Char('=') + QString::fromUtf8(readFile(csgo(name + QStringLiteral("/marker")))));
    return result;
}

std::map<QString, QString> FixWidgetTest::markers() const
{
    std::map<QString, QString> result;
    QDirIterator it(csgo(), {QStringLiteral("marker")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        result[QString::fromUtf8(readFile(path))] = QDir(csgo()).relativeFilePath(path);
    }
    return result;
}

void FixWidgetTest::press(const QString &operation)
{
    if (operation.startsWith(QLatin1String("new:"))) // the game fetches a missing folder again
        QVERIFY(makeFolder(operation.mid(4), operation.mid(4) + QStringLiteral("#new")));
    else if (operation == QLatin1String("fix"))
        page->fix();
    else if (operation == QLatin1String("revert"))
        page->revert();
    else if (operation == QLatin1String("del"))
        page->del();
    else
        QFAIL(qPrintable(QStringLiteral("unknown operation ") + operation));
}

States FixWidgetTest::states() const
{
    return {button("fixButton")->isEnabled(), button("revertButton")->isEnabled(), button("deleteButton")->isEnabled()};
}

void FixWidgetTest::initTestCase()
{
    withoutGame = qEnvironmentVariableIsSet("VIGILOR_TEST_WITHOUT_GAME");
    VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server);
    QVERIFY(serveCompleteContent(*server));
    QVERIFY2(loadProcessWideLoader(
                 environment, temp.path(),
                 withoutGame ? QByteArray()
                             : registryWithFolders(temp.filePath(QStringLiteral("game")), QStringLiteral("/s"))),
             qPrintable(ContentLoader::instance()->errorString()));
}

void FixWidgetTest::init()
{
    if (withoutGame != (qstrcmp(QTest::currentTestFunction(), "noGameFolder") == 0))
        QSKIP("runs in the other configuration");
    QVERIFY(QDir(csgo()).removeRecursively());
    QVERIFY(QDir().mkpath(csgo()));
    page = std::make_unique<FixWidget>();
}

void FixWidgetTest::onlyFixEnabledAtStartEvenWithBackupsOnDisk()
{
    QVERIFY(makeFolder(QStringLiteral("models_bak"), QStringLiteral("earlier run")));
    page = std::make_unique<FixWidget>();
    QCOMPARE(states(), (States{true, false, false}));
    QCOMPARE(button("fixButton")->text(), QStringLiteral("Исправить ошибки"));
    QCOMPARE(button("revertButton")->text(), QStringLiteral("Вернуть"));
    QCOMPARE(button("deleteButton")->text(), QStringLiteral("Удалить"));
}

void FixWidgetTest::operations_data()
{
    QTest::addColumn<QStringList>("before");  // folder=content
    QTest::addColumn<QStringList>("presses"); // fix, revert, del, or new:<name>
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<States>("afterStates");

    const QStringList four{"materials=materials", "models=models", "particles=particles", "sound=sound"};
    const QStringList fourBak{"materials_bak=materials", "models_bak=models", "particles_bak=particles",
                              "sound_bak=sound"};
    const QStringList fourBakBak{"materials_bak_bak=materials", "models_bak_bak=models", "particles_bak_bak=particles",
                                 "sound_bak_bak=sound"};
    const States fixOnly{true, false, false};
    const States all{true, true, true};

    QTest::newRow("fix moves the four aside") << four << QStringList{"fix"} << fourBak << all;
    QTest::newRow("fix twice pushes the backups deeper") << four << QStringList{"fix", "fix"} << fourBakBak << all;
    QTest::newRow("revert after fix twice finds nothing")
        << four << QStringList{"fix", "fix", "revert"} << fourBakBak << fixOnly;
    QTest::newRow("fix then revert restores") << four << QStringList{"fix", "revert"} << four << fixOnly;
    QTest::newRow("fix then delete") << four << QStringList{"fix", "del"} << QStringList{} << fixOnly;
    QTest::newRow("fix shifts a chain of older backups")
        << QStringList{"models=m0", "models_bak=m1", "models_bak_bak=m2"} << QStringList{"fix"}
        << QStringList{"models_bak=m0", "models_bak_bak=m1", "models_bak_bak_bak=m2"} << all;
    QTest::newRow("fix pushes a backup aside without a source")
        << QStringList{"sound_bak=s1"} << QStringList{"fix"} << QStringList{"sound_bak_bak=s1"} << all;
    QTest::newRow("revert leaves a backup whose plain folder is back")
        << QStringList{"models=m0", "sound=s0"} << QStringList{"fix", "new:models", "revert"}
        << QStringList{"models=models#new", "models_bak=m0", "sound=s0"} << fixOnly;
    QTest::newRow("delete leaves deeper backups")
        << QStringList{"models=m0", "models_bak=m1", "models_bak_bak=m2"} << QStringList{"fix", "del"}
        << QStringList{"models_bak_bak=m1", "models_bak_bak_bak=m2"} << fixOnly;
    QTest::newRow("revert without backups changes nothing") << four << QStringList{"revert"} << four << fixOnly;
    QTest::newRow("delete leaves other folders")
        << QStringList{"maps=x", "models_bak=m1", "models_old=m9"} << QStringList{"del"}
        << QStringList{"maps=x", "models_old=m9"} << fixOnly;
}

void FixWidgetTest::operations()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, presses);
    QFETCH(QStringList, after);
    QFETCH(States, afterStates);

    for (const QString &folder : before)
        QVERIFY(makeFolder(folder.section(QLatin1Char('='), 0, 0), folder.section(QLatin1Char('='), 1)));
    ModalCloser boxes;
    for (const QString &operation : presses)
        press(operation);
    QCOMPARE(folders(), after);
    QCOMPARE(states(), afterStates);
    QVERIFY(boxes.boxes().isEmpty());
}

void FixWidgetTest::deleteRemovesLinkedBackupAsLink_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("the backup itself") << "models_bak";
    // A folder moved to another drive, further down in a backup.
    QTest::newRow("deep inside the backup") << "sound_bak/music/moved";
}

void FixWidgetTest::deleteRemovesLinkedBackupAsLink()
{
    QFETCH(QString, link);
    const QString elsewhere = temp.filePath(QStringLiteral("elsewhere"));
    QVERIFY(writeFile(elsewhere + QStringLiteral("/precious"), "keep"));
    QVERIFY(QDir().mkpath(QFileInfo(csgo(link)).path()));
    QVERIFY(QFile::link(elsewhere, csgo(link)));
    page->del();
    const QString backup = csgo(link.section(QLatin1Char('/'), 0, 0));
    QVERIFY(!QFileInfo(backup).exists() && !QFileInfo(backup).isSymLink());
    QCOMPARE(readFile(elsewhere + QStringLiteral("/precious")), QByteArray("keep"));
}

// Any run of presses, with the game fetching missing folders again in between, keeps every marker
// except those that lay in a first-level backup when "Удалить" was pressed; each stays in its own chain.
void FixWidgetTest::noSequenceLosesContent()
{
    // A failing run is repeated with VIGILOR_TEST_SEED set to the seed it printed.
    bool seeded = false;
    const quint32 given = qEnvironmentVariable("VIGILOR_TEST_SEED").toUInt(&seeded);
    const quint32 seed = seeded ? given : QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    for (const QString &name : names)
        QVERIFY(makeFolder(name, name + QStringLiteral("#0")));
    QStringList done;
    bool backupButtonsEnabled = false;
    for (int step = 0; step < 300; ++step) {
        std::map<QString, QString> expected = markers();
        const int choice = random.bounded(6);
        const QString name = names.at(random.bounded(names.size()));
        if (choice == 0) {
            done.append(QStringLiteral("del"));
            for (auto it = expected.begin(); it != expected.end();) {
                const QString top = it->second.section(QLatin1Char('/'), 0, 0);
                it = top.endsWith(QLatin1String("_bak")) && top.count(QLatin1String("_bak")) == 1 ? expected.erase(it)
                                                                                                  : std::next(it);
            }
            page->del();
            backupButtonsEnabled = false;
        } else if (choice == 1) {
            done.append(QStringLiteral("revert"));
            page->revert();
            backupButtonsEnabled = false;
        } else if (choice <= 3) {
            done.append(QStringLiteral("fix"));
            page->fix();
            backupButtonsEnabled = true;
        } else if (!QFileInfo::exists(csgo(name))) {
            done.append(QStringLiteral("new:") + name);
            QVERIFY(makeFolder(name, name + QLatin1Char('#') + QString::number(step)));
            expected = markers();
        }
        const std::map<QString, QString> present = markers();
        QStringList presentNames, expectedNames;
        for (const auto &marker : present) {
            presentNames.append(marker.first);
            // A marker stays in the chain of the folder it began in.
            const QString origin = marker.first.section(QLatin1Char('#'), 0, 0);
            const QString top = marker.second.section(QLatin1Char('/'), 0, 0);
            QVERIFY2(top == origin || top.startsWith(origin + QStringLiteral("_bak")),
                     qPrintable(marker.first + QStringLiteral(" at ") + marker.second));
        }
        for (const auto &marker : expected)
            expectedNames.append(marker.first);
        QVERIFY2(presentNames == expectedNames, qPrintable(done.join(QLatin1Char(' '))));
        QCOMPARE(states(), (States{true, backupButtonsEnabled, backupButtonsEnabled}));
    }
}

void FixWidgetTest::noGameFolder_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::newRow("fix") << "fixButton";
    QTest::newRow("revert") << "revertButton";
    QTest::newRow("delete") << "deleteButton";
}

void FixWidgetTest::noGameFolder()
{
    QFETCH(QString, buttonName);
    // Both backup buttons enabled, as after an earlier fix: the refused press must not change them.
    button("revertButton")->setEnabled(true);
    button("deleteButton")->setEnabled(true);
    const QStringList before = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ModalCloser boxes;
    QTest::mouseClick(page->findChild<QPushButton *>(buttonName), Qt::LeftButton);
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.boxes().at(0).text, QStringLiteral("Папка игры не найдена, опция недоступна!"));
    QCOMPARE(boxes.boxes().at(0).icon, int(QMessageBox::Critical));
    QCOMPARE(states(), (States{true, true, true}));
    QCOMPARE(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

VIGILOR_TEST_MAIN(FixWidgetTest)
#include "FixWidgetTest.moc"
