#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <atomic>
#include <functional>

// Reading a player's SQLite database as a hostile file: bounded in time, rows, bytes and memory, never
// trusting its schema, never writing beside it.

// What a player's database may cost: the time to read it, the rows taken, the size of a file read or
// copied, and SQLite's own memory (its sorts and temporary tables stay in it, never in %TEMP%).
constexpr int kDatabaseSeconds = 5;
constexpr int kLargestRowCount = 1000000;
constexpr qint64 kLargestDatabaseFile = qint64(1) << 30;
constexpr sqlite3_int64 kSqliteHeapLimit = sqlite3_int64(512) << 20;
constexpr int kLargestValue = 16 * 1024 * 1024;

// One read of a database: the rows and, when it stopped short, why.
struct DatabaseRead
{
    QStringList rows;
    QString failure; // empty when the database was read in full
    QDeadlineTimer deadline{kDatabaseSeconds * 1000};
    const std::atomic<bool> *stop = nullptr; // set when the scan is abandoned
};

// Reads rows of an open database into `read`; false, with read.failure set, when it stopped short.
using DatabaseReader = std::function<bool(sqlite3 *, DatabaseRead &read)>;

// Reads rows of an open database into `read`; false, with read.failure set, when it stopped short.
using DatabaseReader = std::function<bool(sqlite3 *, DatabaseRead &read)>;

// Opens the database at the SQLite URI `uri` with the settings a hostile file calls for and reads it.
// Nothing is trusted from the file: its schema may not call functions with side effects, no extension
// is loaded, and the read is cut off at the deadline.
bool readWith(const QString &uri, int flags, const DatabaseReader &reader, DatabaseRead &read);

// Appends the first column of every row of `statement` over the real table `table`, skipping NULLs,
// up to the row limit; false when it stopped short.
bool readColumn(sqlite3 *database, const char *table, const char *statement, DatabaseRead &read);

// Reads the browser database at `path` without changing it or creating anything beside it: in place
// when it is alone, else from a snapshot of it and its journal in a folder of ours. False when there is
// no such file; read.failure says why a database that is there was not read in full.
bool readBrowserDatabase(const QString &path, const DatabaseReader &reader, DatabaseRead &read);
