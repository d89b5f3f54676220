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
    void newestRecordsOfALargeJournal();
};

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
} // namespace

// A loader created, a tool renamed (Windows' three records of one rename), a cheat renamed whose old
// name is no longer in the journal, a library deleted, in records of both versions; a file of no
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
               usnRecord(3, 2, 5, kRun, kNew | kClose, QStringLiteral("notes.txt")) +
               usnRecord(2, 8, 5, kRun, kNew, QStringLiteral("aimbot.exe")) +
               usnRecord(2, 8, 5, kRun, kNew | kClose, QStringLiteral("aimbot.exe")) +
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
                                QStringLiteral("aimbot.exe renamed aimbot.exe"), QStringLiteral("hook.dll deleted ")}));
    QCOMPARE(collection.signs.filter(QStringLiteral("USN")),
             QStringList{QStringLiteral("Журнал USN создан заново: C:\\ (2026-12-01 09:20:15 UTC)")});
    QVERIFY2(collection.notRead.join(' ').contains(QStringLiteral("запись повреждена")),
             qPrintable(collection.notRead.join(' ')));
}

// A journal file larger than the read: its newest 64 MiB are read, as the live journal's are.
void UsnJournalSourceTest::newestRecordsOfALargeJournal()
{
    QTemporaryDir root;
    ScopedEnvironment environment;
    QVERIFY(useRegistry(environment, root.filePath(QStringLiteral("registry.reg")),
                        "Windows Registry Editor Version 5.00\r\n"));
    const QByteArray filler = usnRecord(2, 1, 5, kRun, 0x100, QStringLiteral("filler-of-the-journal.txt"));
    QByteArray journal(8, '\0');
    journal += QByteArray(filler).repeated(70 * 1024 * 1024 / filler.size());
    journal += usnRecord(2, 2, 5, kRun, 0x100 | 0x80000000, QStringLiteral("newest.exe"));
    const QString file = root.filePath(QStringLiteral("journal.bin"));
    QVERIFY(writeFile(file, journal));
    environment.set("VIGILOR_USN_JOURNAL", file);
    const TraceMachine machine{QString(), QString(), kRun.addSecs(-3600),     kRun.addDays(1), {},
                               {},        {},        {QStringLiteral("C:\\")}};
    const TraceCollection collection = collectTraces(machine, {});
    QStringList rows;
    for (const TraceRow &row : collection.rows)
        rows.append(row.path);
    QCOMPARE(rows, QStringList{QStringLiteral("newest.exe")});
    QCOMPARE(collection.notRead, QStringList{QStringLiteral("USN (C:\\): прочитаны последние 64 МиБ записей")});
}

VIGILOR_GUILESS_TEST_MAIN(UsnJournalSourceTest)
#include "UsnJournalSourceTest.moc"
