#include "scan/GuardedSqlite.h"

#include <QObject>

#include <mutex>

namespace {
QString sqliteFailure(sqlite3 *database, int status, const DatabaseRead &read)
{
    if (status == SQLITE_INTERRUPT || read.deadline.hasExpired())
        return QObject::tr("не прочитана за %1 с").arg(kDatabaseSeconds);
    return QStringLiteral("SQLite: ") + QString::fromUtf8(database ? sqlite3_errmsg(database) : sqlite3_errstr(status));
}

int onProgress(void *data)
{
    const auto *read = static_cast<const DatabaseRead *>(data);
    return read->deadline.hasExpired() || (read->stop && *read->stop) ? 1 : 0;
}

} // namespace

bool readWith(const QString &uri, int flags, const DatabaseReader &reader, DatabaseRead &read)
{
    static std::once_flag heapLimit;
    std::call_once(heapLimit, [] { sqlite3_hard_heap_limit64(kSqliteHeapLimit); });
    sqlite3 *database = nullptr;
    // Each connection lives on one thread, so SQLite's own locking of it is left out.
    int status =
        sqlite3_open_v2(uri.toUtf8().constData(), &database, flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    if (status == SQLITE_OK) {
        sqlite3_db_config(database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
        sqlite3_limit(database, SQLITE_LIMIT_LENGTH, kLargestValue);
        sqlite3_progress_handler(database, 1000, onProgress, &read);
        // A browser that still holds its lock costs a moment, not the scan.
        sqlite3_busy_timeout(database, 200);
        status = sqlite3_exec(database, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    }
    const bool ok = status == SQLITE_OK && reader(database, read);
    if (status != SQLITE_OK)
        read.failure = sqliteFailure(database, status, read);
    sqlite3_close_v2(database);
    return ok;
}

namespace {
// Whether `name` is a real table of the database: a view or a virtual table may run any query the
// player wrote, for ever.
bool isPlainTable(sqlite3 *database, const char *name, DatabaseRead &read)
{
    sqlite3_stmt *query = nullptr;
    int status =
        sqlite3_prepare_v2(database, "select type, sql from sqlite_master where name = ?1", -1, &query, nullptr);
    bool plain = false;
    if (status == SQLITE_OK) {
        sqlite3_bind_text(query, 1, name, -1, SQLITE_STATIC);
        status = sqlite3_step(query);
        if (status == SQLITE_ROW) {
            const auto *type = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
            const QByteArray sql =
                QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(query, 1))).simplified().toUpper();
            plain = type && qstrcmp(type, "table") == 0 && !sql.startsWith("CREATE VIRTUAL");
            if (!plain)
                read.failure = QObject::tr("%1 — не таблица").arg(QLatin1String(name));
        } else if (status == SQLITE_DONE) {
            read.failure = QObject::tr("нет таблицы %1").arg(QLatin1String(name));
        }
    }
    if (status != SQLITE_ROW && status != SQLITE_DONE)
        read.failure = sqliteFailure(database, status, read);
    sqlite3_finalize(query);
    return plain;
}

} // namespace

bool readColumn(sqlite3 *database, const char *table, const char *statement, DatabaseRead &read)
{
    if (!isPlainTable(database, table, read))
        return false;
    sqlite3_stmt *query = nullptr;
    int status = sqlite3_prepare_v2(database, statement, -1, &query, nullptr);
    int taken = 0;
    if (status == SQLITE_OK) {
        while ((status = sqlite3_step(query)) == SQLITE_ROW) {
            if (++taken > kLargestRowCount)
                break;
            if (sqlite3_column_type(query, 0) == SQLITE_NULL)
                continue;
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
            read.rows.append(QString::fromUtf8(text, sqlite3_column_bytes(query, 0)));
        }
    }
    sqlite3_finalize(query);
    if (taken > kLargestRowCount) {
        read.failure = QObject::tr("больше %1 строк").arg(kLargestRowCount);
        return false;
    }
    if (status == SQLITE_DONE)
        return true;
    read.failure = sqliteFailure(database, status, read);
    return false;
}
