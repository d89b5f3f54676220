#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

// Opens (creating it when missing) the SQLite file at `path` for writing from several threads and runs
// `setup` on it; nullptr with the reason in `error` when either fails.
sqlite3 *openWritable(const std::string &path, const char *setup, std::string &error);

// A prepared statement, finalized on scope exit. A statement that did not prepare is null: binding
// to it does nothing and stepping it gives an error.
class Statement
{
public:
    Statement(sqlite3 *db, const std::string &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return statement; }
    void bind(int index, const std::string &text);
    // The bytes as they are, such as a body exactly as received.
    void bindBlob(int index, const std::string &bytes);
    void bind(int index, long long number);
    int step();
    // A column's bytes; empty for NULL.
    std::string text(int index) const;

private:
    sqlite3_stmt *statement = nullptr;
};
