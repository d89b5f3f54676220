// What a prepared player's machine costs the check, each measure beside its limit or its baseline in
// the same run:
//   - the browser step over a History whose table is an endless recursive view, one of 2 GiB (sparse)
//     with an empty log beside it, and one of 3,000,000 real rows: its time (limit 6 s) and how much
//     %TEMP% grew meanwhile (limit 64 MiB);
//   - the signature step over a file of 1 GiB, beside the `yara` command over the same file;
//   - the traces over 100,000 spellings of one 64 MiB file in PCA, beside one spelling (ratio, goal
//     at most 2);
//   - what crafted trace files and linked browser profiles expand into (HostileTraces.cpp);
//   - the report tab with 40,000 trace rows recorded: the longest stall of its event loop while the
//     examiner types the note and while a new event arrives (limit 50 ms).
// Run: QT_QPA_PLATFORM=offscreen ./hostile-bench

#include "HistoryDatabase.h"
#include "HostileTraces.h"
#include "TestEnvironment.h"
#include "report/CheckRecord.h"
#include "report/ReportWidget.h"
#include "rules/Signatures.h"
#include "scan/BrowserHistoryParser.h"
#include "traces/ExecutionTraces.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {
// The bytes the files below `folder` take on disk.
qint64 diskUse(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

QString mib(qint64 bytes)
{
    return QString::number(double(bytes) / (1 << 20), 'f', 1) + QStringLiteral(" MiB");
}

// Runs `work` while sampling the disk use of `folder`; the time and the largest growth seen.
QPair<qint64, qint64> timedWithGrowth(const QString &folder, const std::function<void()> &work)
{
    const qint64 before = diskUse(folder);
    std::atomic<bool> done{false};
    std::atomic<qint64> largest{0};
    std::thread sampler([&] {
        while (!done) {
            largest = std::max<qint64>(largest, diskUse(folder) - before);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    QElapsedTimer clock;
    clock.start();
    work();
    const qint64 elapsed = clock.elapsed();
    done = true;
    sampler.join();
    return {elapsed, largest};
}

void browserStep(QTextStream &out, const QString &root)
{
    const QString roaming = root + QStringLiteral("/AppData/Roaming");
    const QString history = root + QStringLiteral("/AppData/Local/Google/Chrome/User Data/Default/History");
    const QString tmp = root + QStringLiteral("/tmp");
    QDir().mkpath(tmp);
    ScopedEnvironment environment;
    environment.set("APPDATA", roaming);
    environment.set("TMPDIR", tmp);
    environment.set("SQLITE_TMPDIR", tmp);
    const QList<QPair<QString, std::function<void()>>> plants = {
        {QStringLiteral("recursive view"),
         [&] {
             writeDatabase(history, {"CREATE VIEW keyword_search_terms AS WITH RECURSIVE r(url_id, term) AS "
                                     "(SELECT 1, 'cheat' UNION ALL SELECT url_id + 1, term FROM r) SELECT * FROM r"});
         }},
        {QStringLiteral("2 GiB sparse, empty log"),
         [&] {
             writeHistoryDatabase(history, {{1, QStringLiteral("cheat")}});
             QFile(history).resize(qint64(2) << 30);
             writeFile(history + QStringLiteral("-wal"), QByteArray());
         }},
        {QStringLiteral("3,000,000 rows"),
         [&] {
             writeHistoryDatabase(history, {});
             writeDatabase(history, {"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                                     "3000000) INSERT INTO keyword_search_terms SELECT 1, i, 'term ' || i, '' FROM n"});
         }},
    };
    const QList<IBrowserHistoryParser *> parsers = makeBrowserHistoryParsers();
    for (const auto &plant : plants) {
        QDir(root + QStringLiteral("/AppData")).removeRecursively();
        plant.second();
        QVector<SearchTerm> terms;
        QVector<UnreadHistory> unread;
        const auto measured = timedWithGrowth(tmp, [&] { collectBrowserTerms(parsers, terms, &unread); });
        out << "browser step, " << plant.first << ": " << measured.first << " ms (limit 6000), %TEMP% grew by at most "
            << mib(measured.second) << " (limit 64 MiB); " << terms.size()
            << " terms, not read: " << (unread.isEmpty() ? QStringLiteral("-") : unread.first().reason) << "\n";
    }
    qDeleteAll(parsers);
}

void signatureStep(QTextStream &out, const QString &root)
{
    const QString rules = QStringLiteral("rule tail { strings: $a = \"VIGILOR-ASCII-MARK\" condition: $a }\n"
                                         "rule head { strings: $b = { 4D 5A ?? ?? 50 45 } condition: $b at 0 }\n");
    const QString file = root + QStringLiteral("/large.bin");
    {
        QFile large(file);
        large.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 2654435761u) >> 24);
        for (int i = 0; i < 1024; ++i)
            large.write(block);
        large.seek(kLargestScannedFile - 18);
        large.write("VIGILOR-ASCII-MARK");
    }
    writeFile(root + QStringLiteral("/rules.yar"), rules.toUtf8());
    QString error;
    const auto compiled = SignatureRules::compile(rules, {}, error);
    qint64 ours = std::numeric_limits<qint64>::max();
    qint64 theirs = std::numeric_limits<qint64>::max();
    int matches = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        matches = scanSignatures(*compiled, {file}, {}).matches.size();
        ours = std::min(ours, clock.elapsed());
        clock.restart();
        QProcess yara;
        yara.setStandardOutputFile(QProcess::nullDevice());
        yara.start(QStringLiteral("yara"), {root + QStringLiteral("/rules.yar"), file});
        yara.waitForFinished(-1);
        theirs = std::min(theirs, clock.elapsed());
    }
    out << "signature step over 1 GiB: " << ours << " ms, " << matches << " match(es); yara " << theirs
        << " ms; ratio ours/yara " << QString::number(double(ours) / std::max<qint64>(theirs, 1), 'f', 2) << "\n";
    QFile::remove(file);
}

void traceSpellings(QTextStream &out, const QString &root)
{
    const QString windows = root + QStringLiteral("/Windows");
    const QString big = root + QStringLiteral("/programs/big.exe");
    const QString empty = root + QStringLiteral("/programs/empty.exe");
    writeFile(empty, QByteArray());
    {
        QFile file(big);
        file.open(QIODevice::WriteOnly);
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 64; ++i)
            file.write(block);
    }
    ScopedEnvironment environment;
    useRegistry(environment, root + QStringLiteral("/registry.reg"), "Windows Registry Editor Version 5.00\r\n");
    const TraceMachine machine{
        windows, root + QStringLiteral("/Roaming"), QDateTime(), QDateTime::currentDateTimeUtc(), {}, {}, {}, {}, {}};
    // Best of three collections whose PCA names `program` in `spellings` ways: "." and empty
    // components in a different number each.
    const auto collect = [&](const QString &program, int spellings) {
        QByteArray pca;
        for (int i = 0; i < spellings; ++i)
            pca += (QFileInfo(program).path() + QStringLiteral("/.").repeated(i % 317) +
                    QStringLiteral("/").repeated(i / 317) + QLatin1Char('/') + QFileInfo(program).fileName() +
                    QStringLiteral("|2026-12-01 09:31:00.000\r\n"))
                       .toUtf8();
        writeFile(windows + QStringLiteral("/appcompat/pca/PcaAppLaunchDic.txt"), pca);
        qint64 best = std::numeric_limits<qint64>::max();
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer clock;
            clock.start();
            collectTraces(machine, {});
            best = std::min(best, clock.elapsed());
        }
        return best;
    };
    // The hashing's share is what the 64 MiB file costs beyond an empty one under as many spellings:
    // each figure a whole collection's time, so none can come out below zero.
    const qint64 one = collect(big, 1);
    const qint64 oneEmpty = collect(empty, 1);
    const qint64 many = collect(big, 100000);
    const qint64 manyEmpty = collect(empty, 100000);
    out << "traces, one 64 MiB file: 1 spelling " << one << " ms (an empty file " << oneEmpty
        << " ms), 100,000 spellings " << many << " ms (an empty file " << manyEmpty << " ms); the 64 MiB file's "
        << "cost beyond an empty one, 100,000 spellings against 1: "
        << QString::number(double(std::max<qint64>(many, manyEmpty) - manyEmpty + 1) /
                               double(std::max<qint64>(one, oneEmpty) - oneEmpty + 1),
                           'f', 2)
        << " (goal at most 2)\n";
}

void reportTab(QTextStream &out, QApplication &app)
{
    CheckRecord record;
    ReportWidget page;
    page.resize(900, 560);
    page.show();
    page.setRecord(&record);
    TraceCollection collection;
    collection.collected = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 40000; ++i) {
        TraceRow row;
        row.path = QStringLiteral("C:\\Users\\player\\AppData\\Local\\Temp\\tool-%1.exe").arg(i);
        row.source = QStringLiteral("AppCompat Layers");
        row.matched = i % 1000 == 0;
        row.ruleDescription = row.matched ? QStringLiteral("Loader") : QString();
        collection.rows.append(row);
    }
    QElapsedTimer clock;
    clock.start();
    record.tracesCollected(collection);
    const qint64 arrival = clock.elapsed();

    qint64 worst = 0;
    QElapsedTimer lateness;
    QTimer tick;
    tick.setInterval(5);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] { worst = std::max(worst, lateness.restart() - 5); });
    lateness.start();
    tick.start();
    auto *note = page.findChild<QPlainTextEdit *>(QStringLiteral("noteEdit"));
    qint64 longestEvent = 0;
    for (int i = 0; i < 10; ++i) {
        QTest::keyClicks(note, QStringLiteral("ok "));
        const QDeadlineTimer settle(400);
        while (!settle.hasExpired())
            app.processEvents(QEventLoop::WaitForMoreEvents, 10);
        clock.restart();
        record.utilityStarted(QStringLiteral("AnyDesk.exe"));
        longestEvent = std::max(longestEvent, clock.elapsed());
    }
    tick.stop();
    out << "report tab, 40,000 trace rows: the collection's arrival " << arrival
        << " ms; longest stall while typing and as events arrive " << worst << " ms, a new event " << longestEvent
        << " ms (limit 50)\n";
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir temp;
    browserStep(out, temp.filePath(QStringLiteral("browsers")));
    out.flush();
    signatureStep(out, temp.path());
    out.flush();
    traceSpellings(out, temp.filePath(QStringLiteral("traces")));
    out.flush();
    craftedTraces(out, temp.filePath(QStringLiteral("crafted")));
    linkedProfiles(out, temp.filePath(QStringLiteral("profiles")));
    reportTab(out, app);
    return 0;
}
