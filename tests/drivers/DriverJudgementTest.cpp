#include "drivers/DriverJudgement.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "drivers/DriverCollector.h"
#include "drivers/IntegrityState.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(DriverEvidence)
Q_DECLARE_METATYPE(DriverLine)

// What the drivers check makes of what it reads: the kernel's integrity options, the boot
// configuration's entries, the spellings of driver paths, and the red and orange table.
class DriverJudgementTest : public QObject
{
    Q_OBJECT

private slots:
    void integrityOptions_data();
    void integrityOptions();
    void bootEntries();
    void driverPaths_data();
    void driverPaths();
    void judgement_data();
    void judgement();
};

namespace {
using Lines = QVector<DriverLine>;
const DriverLine kMemoryOff{DriverLineLevel::Plain, QStringLiteral("Защита целостности памяти: выключена")};
const DriverLine kMemoryOn{DriverLineLevel::Plain, QStringLiteral("Защита целостности памяти: включена")};
const DriverLine kOff{DriverLineLevel::Red, QStringLiteral("Проверка подписи драйверов отключена")};
const DriverLine kTest{DriverLineLevel::Red, QStringLiteral("Включён тестовый режим подписи драйверов")};
const DriverLine kDebug{DriverLineLevel::Red, QStringLiteral("Включён режим отладки подписи")};
} // namespace

void DriverJudgementTest::integrityOptions_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<quint32>("options");
    QTest::addColumn<Lines>("lines");
    QTest::newRow("enforced") << true << 0x1u << Lines{kMemoryOff};
    QTest::newRow("enforced, memory integrity") << true << 0x401u << Lines{kMemoryOn};
    QTest::newRow("off") << true << 0x0u << Lines{kOff, kMemoryOff};
    QTest::newRow("test signing") << true << 0x3u << Lines{kTest, kMemoryOff};
    QTest::newRow("debug mode") << true << 0x81u << Lines{kDebug, kMemoryOff};
    QTest::newRow("not known") << false << 0u
                               << Lines{{DriverLineLevel::NotRead,
                                         QStringLiteral(
                                             "Не удалось узнать состояние проверки подписи драйверов: нет прав")}};
}

void DriverJudgementTest::integrityOptions()
{
    QFETCH(bool, known);
    QFETCH(quint32, options);
    QFETCH(Lines, lines);
    QCOMPARE(codeIntegrityLines({known, options, known ? QString() : QStringLiteral("нет прав")}), lines);
}

// Test signing on the default entry is red; the debugger on a second entry is orange and names it;
// a setting left at 0 and an object of another type say nothing.
void DriverJudgementTest::bootEntries()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    // No boot configuration at all is a line of its own.
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("empty.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    QCOMPARE(bootConfigurationLines().value(0).level, DriverLineLevel::NotRead);
    const QByteArray objects = "[HKEY_LOCAL_MACHINE\\BCD00000000\\Objects";
    QVERIFY(useRegistry(
        environment, root.filePath(QStringLiteral("registry.reg")),
        "Windows Registry Editor Version 5.00\r\n\r\n" + objects +
            "\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\23000003]\r\n\"Element\"=\"{aaaa}\"\r\n\r\n" +
            objects + "\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Description]\r\n\"Type\"=dword:10100002\r\n\r\n" +
            objects + "\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\260000a0]\r\n\"Element\"=hex:01\r\n\r\n" +
            objects + "\\{aaaa}\\Description]\r\n\"Type\"=dword:10200003\r\n\r\n" + objects +
            "\\{aaaa}\\Elements\\16000049]\r\n\"Element\"=hex:01\r\n\r\n" + objects +
            "\\{aaaa}\\Elements\\16000048]\r\n\"Element\"=hex:00\r\n\r\n" + objects +
            "\\{bbbb}\\Description]\r\n\"Type\"=dword:10200003\r\n\r\n" + objects +
            "\\{bbbb}\\Elements\\12000004]\r\n\"Element\"=\"Windows 10 <debug>\"\r\n\r\n" + objects +
            "\\{bbbb}\\Elements\\260000a0]\r\n\"Element\"=hex:01\r\n\r\n"));
    QCOMPARE(bootConfigurationLines(),
             (Lines{{DriverLineLevel::Red,
                     QStringLiteral("Конфигурация загрузки разрешает: тестовая подпись драйверов (testsigning)")},
                    {DriverLineLevel::Orange,
                     QStringLiteral("Запись загрузки «Windows 10 <debug>» разрешает: отладчик ядра (debug)")}}));
    // Nothing of the test stays in a Wine prefix's registry.
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("cleared.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
}

void DriverJudgementTest::driverPaths_data()
{
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QString>("path");
    QTest::newRow("SystemRoot") << "\\SystemRoot\\System32\\drivers\\disk.sys"
                                << "C:\\Windows\\System32\\drivers\\disk.sys";
    QTest::newRow("NT path") << "\\??\\D:\\Tools\\drv.sys"
                             << "D:\\Tools\\drv.sys";
    QTest::newRow("Windows from the root") << "\\Windows\\System32\\ntoskrnl.exe"
                                           << "C:\\Windows\\System32\\ntoskrnl.exe";
    QTest::newRow("relative to the Windows folder") << "System32\\drivers\\x.sys"
                                                    << "C:\\Windows\\System32\\drivers\\x.sys";
    QTest::newRow("device") << "\\Device\\HarddiskVolume3\\Tools\\m.sys"
                            << "C:\\Tools\\m.sys";
    QTest::newRow("device at a boundary only") << "\\Device\\HarddiskVolume30\\m.sys"
                                               << "\\Device\\HarddiskVolume30\\m.sys";
}

void DriverJudgementTest::driverPaths()
{
    QFETCH(QString, recorded);
    QFETCH(QString, path);
    DriverMachine machine;
    machine.traces.windowsFolder = QStringLiteral("C:\\Windows");
    machine.devices = {{QStringLiteral("\\Device\\HarddiskVolume3"), QStringLiteral("C:")}};
    QCOMPARE(driverDrivePath(recorded, machine), path);
}

void DriverJudgementTest::judgement_data()
{
    QTest::addColumn<DriverEvidence>("evidence");
    QTest::addColumn<Lines>("lines");
    DriverEvidence tool;
    tool.path = QStringLiteral("C:\\Windows\\System32\\drivers\\RTCore64.sys");
    tool.entry = QStringLiteral("RTCore64.sys");
    tool.category = QStringLiteral("vulnerable");
    tool.loaded = tool.inSystemFolders = tool.trustAsked = tool.signatureAccepted = true;
    const DriverLine toolLine{DriverLineLevel::Orange,
                              QStringLiteral("Загружен драйвер из списка уязвимых: RTCore64.sys (%1)").arg(tool.path)};
    QTest::newRow("a monitoring tool's listed driver") << tool << Lines{toolLine};
    DriverEvidence clean = tool;
    clean.category.clear();
    QTest::newRow("a clean signed driver") << clean << Lines{};
    DriverEvidence unsignedDriver = clean;
    unsignedDriver.signatureAccepted = false;
    unsignedDriver.reason = QStringLiteral("не подписан");
    QTest::newRow("loaded without a trusted signature")
        << unsignedDriver
        << Lines{{DriverLineLevel::Red,
                  QStringLiteral("Загружен драйвер без доверенной подписи: %1 (не подписан)").arg(clean.path)}};
    DriverEvidence standIn = unsignedDriver;
    standIn.trustAsked = false;
    QTest::newRow("no system judged the signature") << standIn << Lines{};
    DriverEvidence user = clean;
    user.path = QStringLiteral("C:\\Users\\p\\AppData\\Local\\Temp\\x.sys");
    user.inSystemFolders = false;
    user.inUserFolder = true;
    QTest::newRow("from a user's folder")
        << user << Lines{{DriverLineLevel::Red, QStringLiteral("Драйвер из пользовательской папки: ") + user.path}};
    DriverEvidence malicious = tool;
    malicious.category = QStringLiteral("malicious");
    QTest::newRow("malicious")
        << malicious
        << Lines{{DriverLineLevel::Red,
                  QStringLiteral("Драйвер из списка вредоносных: RTCore64.sys (%1)").arg(tool.path)}};
    DriverEvidence service = tool;
    service.loaded = false;
    QTest::newRow("a listed service, not loaded")
        << service
        << Lines{{DriverLineLevel::Orange,
                  QStringLiteral("Служба драйвера из списка уязвимых: RTCore64.sys (%1)").arg(tool.path)}};
    DriverEvidence mapped = clean;
    mapped.gone = true;
    QTest::newRow("loaded, its file gone")
        << mapped
        << Lines{{DriverLineLevel::Orange, QStringLiteral("Загружен драйвер, файла которого нет: ") + tool.path}};
    DriverEvidence installed;
    installed.kind = DriverEvidence::Kind::Installed;
    installed.service = QStringLiteral("gdrv");
    installed.path = QStringLiteral("\\??\\C:\\Temp\\gdrv.sys");
    installed.when = QStringLiteral("2026-12-01 09:30:15 UTC");
    installed.gone = true;
    QTest::newRow("installed and deleted")
        << installed
        << Lines{{DriverLineLevel::Red,
                  QStringLiteral(
                      "Драйвер установлен и удалён: gdrv (\\??\\C:\\Temp\\gdrv.sys, 2026-12-01 09:30:15 UTC)")}};
    DriverEvidence installedTool = installed;
    installedTool.gone = false;
    installedTool.entry = QStringLiteral("gdrv.sys");
    installedTool.category = QStringLiteral("vulnerable");
    installedTool.inSystemFolders = installedTool.signatureAccepted = true;
    const QString installedText = QStringLiteral(
        "Установлен драйвер из списка уязвимых: gdrv.sys (\\??\\C:\\Temp\\gdrv.sys, 2026-12-01 09:30:15 UTC)");
    QTest::newRow("a listed driver installed like a tool's")
        << installedTool << Lines{{DriverLineLevel::Orange, installedText}};
    DriverEvidence installedElsewhere = installedTool;
    installedElsewhere.inSystemFolders = false;
    QTest::newRow("a listed driver installed elsewhere")
        << installedElsewhere << Lines{{DriverLineLevel::Red, installedText}};
    DriverEvidence journal;
    journal.kind = DriverEvidence::Kind::Journal;
    journal.path = QStringLiteral("C:\\Temp\\{path}.sys");
    journal.entry = QStringLiteral("gdrv.sys");
    journal.category = QStringLiteral("vulnerable");
    journal.when = installed.when;
    QTest::newRow("created and deleted, by the journal; a placeholder in the path stays")
        << journal
        << Lines{{DriverLineLevel::Red, QStringLiteral("Драйвер из списка уязвимых создан и удалён: gdrv.sys "
                                                       "(C:\\Temp\\{path}.sys, 2026-12-01 09:30:15 UTC)")}};
}

void DriverJudgementTest::judgement()
{
    QFETCH(DriverEvidence, evidence);
    QFETCH(Lines, lines);
    QCOMPARE(judgeDriver(evidence), lines);
}

VIGILOR_GUILESS_TEST_MAIN(DriverJudgementTest)
#include "DriverJudgementTest.moc"
