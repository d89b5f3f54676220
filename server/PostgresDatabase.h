#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

// One PostgreSQL database that several servers share, reached through libpq with parameterised
// statements: the pool of connections, the schema, and one statement's parameters and result.

class PostgresSession;

// The database at a libpq connection URI, reached through a pool of connections made when needed.
// A connection the database dropped is let go, and the next one is made afresh, so the servers come
// back by themselves when the database does. The schema is created on first contact and carries a
// version.
class PostgresDatabase
{
public:
    static constexpr int kSchemaVersion = 1;

    PostgresDatabase(std::string uri, int connections);
    ~PostgresDatabase();
    PostgresDatabase(const PostgresDatabase &) = delete;
    PostgresDatabase &operator=(const PostgresDatabase &) = delete;

    // A connection with the schema in place, waiting while all are in use; null, with the reason in
    // `error`, when the database cannot be reached now or its schema is not one this server knows.
    std::unique_ptr<PostgresSession> session(std::string &error);
    // Whether the database's schema is newer than this server knows: no use retrying then.
    bool schemaTooNew() const;

private:
    friend class PostgresSession;
    PGconn *connect(std::string &error);
    bool prepareSchema(PGconn *connection, std::string &error);
    void release(PGconn *connection, bool broken);
    // A table is missing: the schema is checked again at the next connection.
    void schemaLost();

    const std::string uri;
    const int connections;
    mutable std::mutex mutex;
    std::condition_variable returned;
    std::vector<PGconn *> idle;
    int made = 0;
    std::chrono::steady_clock::time_point awayUntil{};
    std::string awayBecause;
    bool schemaReady = false;
    bool tooNew = false;
};

// One parameter of a statement: text, or bytes passed as they are.
struct PostgresParam
{
    PostgresParam(const std::string &text) : data(&text) {}
    PostgresParam(long long number) : owned(std::to_string(number)), data(&owned) {}
    PostgresParam(const PostgresParam &other)
        : owned(other.owned), data(other.data == &other.owned ? &owned : other.data), binary(other.binary)
    {
    }
    static PostgresParam bytes(const std::string &value)
    {
        PostgresParam param(value);
        param.binary = true;
        return param;
    }

    std::string owned;
    const std::string *data;
    bool binary = false;
};

// A statement's result, cleared on scope exit. Values come in binary form.
class PostgresResult
{
public:
    explicit PostgresResult(PGresult *result) : result(result) {}
    ~PostgresResult();
    PostgresResult(PostgresResult &&other) noexcept : result(other.result) { other.result = nullptr; }
    PostgresResult(const PostgresResult &) = delete;
    PostgresResult &operator=(const PostgresResult &) = delete;
    PostgresResult &operator=(PostgresResult &&other) noexcept
    {
        std::swap(result, other.result);
        return *this;
    }

    bool ok() const; // a command or a query that succeeded
    // Whether it failed for the session's limits: a lock not had in time, or a statement cut off.
    bool outOfTime() const;
    int rows() const;
    std::string bytes(int row, int column) const;
    long long number(int row, int column) const; // integer or bigint
    bool isNull(int row, int column) const;
    PGresult *handle() const { return result; }

private:
    PGresult *result;
};

// A connection borrowed from the pool for one piece of work, returned when it ends.
class PostgresSession
{
public:
    PostgresSession(PostgresDatabase &database, PGconn *connection, bool reused);
    ~PostgresSession();
    PostgresSession(const PostgresSession &) = delete;
    PostgresSession &operator=(const PostgresSession &) = delete;

    PostgresResult run(const char *sql, const std::vector<PostgresParam> &params = {});
    // Whether the connection is gone, so that the failure was the database's absence, not the work's.
    bool broken() const;
    std::string error() const;

private:
    PostgresDatabase &database;
    PGconn *connection;
    bool reused;
    bool used = false;
    bool lost = false; // a table was missing: the connection is not lent again
};
