// What a few crafted bytes may expand into, each collection beside its limits (2 s, 256 MiB of peak
// memory): a Prefetch file of 87,000 volumes that all name one 8 MiB run without a zero; the game's
// Prefetch file naming 1,677,000 loaded files "C:\a", under eight more names (hard links); a format-30
// file of 250,000 names read through the library; one 63 MiB History behind 30 profiles that are
// links to the first.

#include "HostileTraces.h"

#include "HistoryDatabase.h"
#include "TestEnvironment.h"
#include "TraceFixtures.h"
#include "scan/BrowserHistoryParser.h"
#include "traces/ExecutionTraces.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <filesystem>
#include <functional>

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
constexpr qint64 kTimeLimit = 2000;
constexpr qint64 kMemoryLimit = 256;

void putNumber(QByteArray &data, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, data.data() + offset);
}

void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Runs `work`, and prints its time and the peak memory it reached beside the limits.
void measure(QTextStream &out, const QString &what, const std::function<QString()> &work)
{
    resetPeakMemory();
    const qint64 before = qint64(peakResidentMiB());
    QElapsedTimer clock;
    clock.start();
    const QString outcome = work();
    const qint64 elapsed = clock.elapsed();
    out << what << ": " << elapsed << " ms (limit " << kTimeLimit << "), peak memory " << qint64(peakResidentMiB())
        << " MiB (" << before << " before; limit " << kMemoryLimit << " more); " << outcome << "\n";
    out.flush();
}

// A format-31 file whose names block is `names` (UTF-16, at its end).
QByteArray withNames(const QByteArray &names)
{
    QByteArray file = prefetchFile(kRun, 31, QStringLiteral("CSGO.EXE"), 1, {QStringLiteral("\\X.DLL")});
    putNumber(file, 100, static_cast<quint32>(file.size()));
    putNumber(file, 104, static_cast<quint32>(names.size()));
    return file + names;
}

QByteArray manyVolumes()
{
    QByteArray file = prefetchFile(kRun, 31, QStringLiteral("TOOL.EXE"), 1, {QStringLiteral("\\X.DLL")});
    constexpr int kRun8MiB = 8 * 1024 * 1024, kEntry = 96;
    const int count = (16 * 1024 * 1024 - file.size() - kRun8MiB) / kEntry;
    const int table = file.size();
    file += QByteArray(count * kEntry, '\0');
    for (int v = 0; v < count; ++v) {
        putNumber(file, table + v * kEntry, static_cast<quint32>(count * kEntry));
        putNumber(file, table + v * kEntry + 4, kRun8MiB / 2);
    }
    putNumber(file, 108, static_cast<quint32>(table));
    putNumber(file, 112, static_cast<quint32>(count));
    return file + QByteArray(kRun8MiB, 'A');
}

QString collectFrom(const QString &root)
{
    const TraceMachine machine{
        root + QStringLiteral("/Windows"), QString(), kRun.addDays(-1), kRun.addDays(1), {}, {}, {}, {}};
    const TraceCollection collection = collectTraces(machine, {});
    int loaded = 0;
    for (const TraceRow &row : collection.rows)
        loaded += row.loaded.size();
    return QStringLiteral("%1 rows, %2 loaded files, %3 signs, %4 not read")
        .arg(collection.rows.size())
        .arg(loaded)
        .arg(collection.signs.size())
        .arg(collection.notRead.size());
}

void prefetchAt(const QString &root, const QByteArray &file, int links)
{
    QDir(root).removeRecursively();
    const QString prefetch = root + QStringLiteral("/Windows/Prefetch/");
    writeFile(prefetch + QStringLiteral("CSGO.EXE-12345678.pf"), file);
    for (int i = 0; i < links; ++i) {
        std::error_code ignored;
        std::filesystem::create_hard_link(
            QFile::encodeName(prefetch + QStringLiteral("CSGO.EXE-12345678.pf")).constData(),
            QFile::encodeName(prefetch + QStringLiteral("CSGO.EXE-0000000%1.pf").arg(i)).constData(), ignored);
    }
}
} // namespace

void craftedTraces(QTextStream &out, const QString &root)
{
    ScopedEnvironment environment;
    useRegistry(environment, root + QStringLiteral("/registry.reg"), "Windows Registry Editor Version 5.00\r\n");
    const QString machine = root + QStringLiteral("/machine");

    prefetchAt(machine, manyVolumes(), 0);
    measure(out, QStringLiteral("traces, one Prefetch file of 87,000 volumes naming one 8 MiB run"),
            [&] { return collectFrom(machine); });

    QByteArray names;
    const QByteArray name = QByteArray("C\0:\0\\\0a\0\0\0", 10);
    while (names.size() + name.size() <= 16 * 1024 * 1024 - 4096)
        names += name;
    prefetchAt(machine, withNames(names), 8);
    measure(out,
            QStringLiteral("traces, the game's Prefetch file naming %1 loaded files \"C:\\a\", under 9 names")
                .arg(names.size() / name.size()),
            [&] { return collectFrom(machine); });

    QStringList many;
    for (int i = 0; i < 250000; ++i)
        many.append(QStringLiteral("\\V\\%1").arg(i));
    prefetchAt(machine, prefetchFile(kRun, 30, QStringLiteral("CSGO.EXE"), 1, many), 0);
    measure(out, QStringLiteral("traces, a format-30 file of 250,000 names through the library"),
            [&] { return collectFrom(machine); });
}

void linkedProfiles(QTextStream &out, const QString &root)
{
    const QString userData = root + QStringLiteral("/AppData/Local/Google/Chrome/User Data/");
    ScopedEnvironment environment;
    environment.set("APPDATA", root + QStringLiteral("/AppData/Roaming"));
    environment.set("TMPDIR", root + QStringLiteral("/tmp"));
    QDir().mkpath(root + QStringLiteral("/tmp"));
    writeHistoryDatabase(userData + QStringLiteral("Default/History"), {});
    writeDatabase(userData + QStringLiteral("Default/History"),
                  {"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 496000) INSERT INTO "
                   "keyword_search_terms SELECT 1, i, 'a search term of some length ' || i, '' FROM n"});
    for (int i = 1; i <= 30; ++i) {
        std::error_code ignored;
        std::filesystem::create_directory_symlink(
            QFile::encodeName(userData + QStringLiteral("Default")).constData(),
            QFile::encodeName(userData + QStringLiteral("Profile %1").arg(i)).constData(), ignored);
    }
    const qint64 size = QFileInfo(userData + QStringLiteral("Default/History")).size();
    ChromeBrowserHistoryParser parser;
    measure(out, QStringLiteral("browser step, one History of %1 MiB behind 31 profiles").arg(size >> 20), [&] {
        QVector<SearchTerm> terms;
        parser.collect(terms);
        return QStringLiteral("%1 terms").arg(terms.size());
    });
}
