#include "scan/GuardedSqlite.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <optional>

namespace {
// A URI for SQLite naming the file at `path`, with `query`.
QString sqliteUri(const QString &path, const QString &query)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QLatin1Char('?') + query;
}

// Copies the regular file `from` to `to`, at most kLargestDatabaseFile; false with the reason.
bool copyEvidence(const QString &from, const QString &to, QString &failure)
{
    QFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        failure = target.errorString();
        return false;
    }
    bool written = true;
    QString reason;
    switch (platform::readRegularFile(
        from, kLargestDatabaseFile,
        [&](const char *data, qint64 size) { return written = target.write(data, size) == size; }, reason)) {
    case platform::ReadEnd::Whole:
        return true;
    case platform::ReadEnd::TooLarge:
        failure = QObject::tr("%1 больше 1 ГиБ").arg(QDir::toNativeSeparators(from));
        return false;
    case platform::ReadEnd::NotOpened:
    case platform::ReadEnd::Failed:
        break;
    }
    failure = written ? QDir::toNativeSeparators(from) + QStringLiteral(": ") + reason : target.errorString();
    return false;
}

} // namespace

bool readBrowserDatabase(const QString &givenPath, const DatabaseReader &reader, DatabaseRead &read)
{
    // ".." is taken away by name, as Windows does, whether or not the folder before it exists.
    const QString path = QDir::cleanPath(givenPath);
    const QFileInfo original(path);
    if (!original.exists() && !original.isSymLink())
        return false;
    QFile probe(path);
    QString reason;
    if (!platform::openRegularFile(probe, reason)) {
        read.failure = reason;
        return true;
    }
    if (probe.size() > kLargestDatabaseFile) {
        read.failure = QObject::tr("больше 1 ГиБ");
        return true;
    }
    probe.close();

    // A database with a write-ahead log or a journal beside it is read from a private copy of them
    // all: opened in place, even read-only, SQLite would write its shared-memory index or finish the
    // journal there. A database alone is read in place as immutable, which takes no locks and writes
    // nothing, also when its header says write-ahead (a clean exit leaves no log).
    const QStringList companions{QStringLiteral("-wal"), QStringLiteral("-journal")};
    bool alone = true;
    for (const QString &suffix : companions) {
        const QFileInfo companion(path + suffix);
        alone = alone && !companion.exists() && !companion.isSymLink();
    }
    if (alone) {
        readWith(sqliteUri(path, QStringLiteral("immutable=1")), SQLITE_OPEN_READONLY, reader, read);
        return true;
    }

    // Without a temporary folder of ours, no copy: not one beside the file system's root instead.
    const QString temporary = platform::temporaryFolder();
    std::optional<QTemporaryDir> snapshot;
    if (!temporary.isEmpty())
        snapshot.emplace(temporary + QStringLiteral("/vigilor-snapshot-XXXXXX"));
    if (!snapshot || !snapshot->isValid()) {
        read.failure = QObject::tr("нет временной папки для копии");
        return true;
    }
    const QString copy = snapshot->filePath(original.fileName());
    for (const QString &suffix : QStringList{QString()} + companions) {
        const QFileInfo companion(path + suffix);
        if (!companion.exists() && !companion.isSymLink())
            continue;
        if (!copyEvidence(path + suffix, copy + suffix, read.failure))
            return true;
    }
    // The copy is ours, so it is opened for writing: SQLite may replay or roll back the journal in it.
    readWith(sqliteUri(copy, QString()), SQLITE_OPEN_READWRITE, reader, read);
    return true;
}
