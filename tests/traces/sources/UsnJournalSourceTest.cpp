#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "traces/ExecutionTraces.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// The NTFS change journal as the collection reads it through the stand-in.
class UsnJournalSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void changeJournal();
};

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
} // namespace

// A loader created, a tool renamed, a library deleted, in records of both versions; a file of no
// interest, a record of last month and a cut-off record are not rows, and a journal made after
// Windows started is a sign.
void UsnJournalSourceTest::changeJournal()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    constexpr quint32 kCreate = 0x100, kDelete = 0x200, kOld = 0x1000, kNew = 0x2000, kClose = 0x80000000;
    QByteArray journal(8, '\0');
    qToLittleEndian<quint64>(quint64(kRun.addSecs(-600).toMSecsSinceEpoch() + 11644473600000LL) * 10000,
                             journal.data());
    journal += usnRecord(2, 1, 5, kRun, kCreate, QStringLiteral("loader.exe")) +
               usnRecord(2, 1, 5, kRun, kCreate | kClose, QStringLiteral("loader.exe")) +
               usnRecord(3, 2, 5, kRun, kOld, QStringLiteral("aim.exe")) +
               usnRecord(3, 2, 5, kRun, kNew, QStringLiteral("notes.txt")) +
               usnRecord(2, 3, 5, kRun, kDelete | kClose, QStringLiteral("hook.dll")) +
               usnRecord(2, 4, 5, kRun, kCreate | kClose, QStringLiteral("readme.txt")) +
               usnRecord(2, 6, 5, kRun.addDays(-30), kDelete | kClose, QStringLiteral("old.exe")) +
               usnRecord(2, 7, 5, kRun, kDelete | kClose, QStringLiteral("cut.exe")).left(40);
    const QString file = root.filePath(QStringLiteral("journal.bin"));
    QVERIFY(writeFile(file, journal));
    environment.set("VIGILOR_USN_JOURNAL", file);
    TraceMachine machine{QString(), QString(), kRun.addSecs(-3600),     kRun.addDays(1), {},
                         {},        {},        {QStringLiteral("C:\\")}};
    const TraceCollection collection = collectTraces(machine, {});

    QStringList rows;
    for (const TraceRow &row : collection.rows) {
        if (row.source == QLatin1String("USN"))
            rows.append(row.path + QLatin1Char(' ') + traceStateName(row.state) + QLatin1Char(' ') + row.renamedTo);
    }
    QCOMPARE(rows, (QStringList{QStringLiteral("loader.exe created "), QStringLiteral("aim.exe renamed notes.txt"),
                                QStringLiteral("hook.dll deleted ")}));
    QCOMPARE(collection.signs.filter(QStringLiteral("USN")),
             QStringList{QStringLiteral("Журнал USN создан заново: C:\\ (2026-12-01 09:20:15 UTC)")});
    QVERIFY2(collection.notRead.join(' ').contains(QStringLiteral("запись повреждена")),
             qPrintable(collection.notRead.join(' ')));
}

VIGILOR_GUILESS_TEST_MAIN(UsnJournalSourceTest)
#include "UsnJournalSourceTest.moc"
