#include "Sqlite.h"

#include <sqlite3.h>

sqlite3 *openWritable(const std::string &path, const char *setup, std::string &error)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK ||
        sqlite3_exec(db, setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

Statement::Statement(sqlite3 *db, const std::string &sql)
{
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
}

Statement::~Statement()
{
    sqlite3_finalize(statement);
}

void Statement::bind(int index, const std::string &text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bindBlob(int index, const std::string &bytes)
{
    sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, long long number)
{
    sqlite3_bind_int64(statement, index, number);
}

int Statement::step()
{
    return statement ? sqlite3_step(statement) : SQLITE_MISUSE;
}

std::string Statement::text(int index) const
{
    const void *data = sqlite3_column_blob(statement, index);
    const int size = sqlite3_column_bytes(statement, index);
    return data ? std::string(static_cast<const char *>(data), static_cast<std::size_t>(size)) : std::string();
}
