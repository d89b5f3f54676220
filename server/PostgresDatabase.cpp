#include "PostgresDatabase.h"

#include <libpq-fe.h>

#include <arpa/inet.h>

#include <cstring>
#include <iostream>

namespace {
// The advisory lock key of schema changes.
constexpr long long kSchemaLock = 0x5669676C6F72LL; // "Vigilor"
// How long a failed connect stands for the database being away before the next is tried.
constexpr auto kRetryAfter = std::chrono::seconds(1);
// No request waits longer than this for a pooled connection, nor a statement for a lock or its end:
// a session that holds the chain's head (an operator's, a stuck one) costs answers of 503, not every
// worker.
constexpr auto kConnectionWait = std::chrono::seconds(5);
constexpr const char *kSessionLimits = "SET lock_timeout = '5s'; SET statement_timeout = '10s'";

// Version 1. Column for column the SQLite tables, plus the chain's head: the row every new report
// locks, so that no two reports ever take the same predecessor, whichever server takes them. Each
// part is made when it is missing, so that a table an operator dropped comes back at the next
// contact; a head made again continues from the newest report, never from the start.
constexpr const char *kSchema =
    "CREATE TABLE IF NOT EXISTS reports(seq bigint PRIMARY KEY, id text NOT NULL UNIQUE, received text NOT NULL, "
    "sha256 text NOT NULL, chain text NOT NULL, body bytea NOT NULL, machine text, \"user\" text, "
    "findings integer, banned integer);"
    "CREATE TABLE IF NOT EXISTS report_chain_head(only_row boolean PRIMARY KEY DEFAULT true CHECK (only_row), "
    "seq bigint NOT NULL, chain text NOT NULL);"
    "INSERT INTO report_chain_head(seq, chain) SELECT COALESCE(max(seq), 0), COALESCE((SELECT chain FROM reports "
    "ORDER BY seq DESC LIMIT 1), repeat('0', 64)) FROM reports ON CONFLICT DO NOTHING;"
    "CREATE TABLE IF NOT EXISTS ban_cache(account text PRIMARY KEY, vac integer NOT NULL, community integer NOT NULL, "
    "vac_bans integer NOT NULL, game_bans integer NOT NULL, days_since_last_ban integer NOT NULL, "
    "economy text NOT NULL, fetched bigint NOT NULL);"
    "CREATE TABLE IF NOT EXISTS report_arrivals(address text NOT NULL, at timestamptz NOT NULL);"
    "CREATE INDEX IF NOT EXISTS report_arrivals_by_address ON report_arrivals(address, at);"
    "CREATE INDEX IF NOT EXISTS report_arrivals_by_time ON report_arrivals(at);"
    "INSERT INTO vigilor_schema(version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM vigilor_schema)";

std::string messageOf(PGconn *connection)
{
    std::string message = connection ? PQerrorMessage(connection) : "out of memory";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

} // namespace

PostgresDatabase::PostgresDatabase(std::string uri, int connections) : uri(std::move(uri)), connections(connections) {}

PostgresDatabase::~PostgresDatabase()
{
    for (PGconn *connection : idle)
        PQfinish(connection);
}

bool PostgresDatabase::schemaTooNew() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return tooNew;
}

PGconn *PostgresDatabase::connect(std::string &error)
{
    // The URI's own settings come last and win; these are only defaults.
    // A database host that vanishes without a word is noticed within seconds rather than when the
    // system's TCP gives up, minutes later.
    const char *keywords[] = {"connect_timeout",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "application_name",
                              "dbname",
                              nullptr};
    const char *values[] = {"5", "10", "5", "3", "15000", "vigilor-content-server", uri.c_str(), nullptr};
    PGconn *connection = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(connection) != CONNECTION_OK) {
        error = "database unreachable: " + messageOf(connection);
        PQfinish(connection);
        return nullptr;
    }
    // "Already exists, skipping" and the like are no news to anybody reading the log.
    PQsetNoticeProcessor(
        connection, [](void *, const char *) {}, nullptr);
    PGresult *limits = PQexec(connection, kSessionLimits);
    const bool limited = PQresultStatus(limits) == PGRES_COMMAND_OK;
    PQclear(limits);
    if (!limited) {
        error = "database unreachable: " + messageOf(connection);
        PQfinish(connection);
        return nullptr;
    }
    bool ready;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ready = schemaReady;
    }
    if (!ready && !prepareSchema(connection, error)) {
        PQfinish(connection);
        return nullptr;
    }
    return connection;
}

bool PostgresDatabase::prepareSchema(PGconn *connection, std::string &error)
{
    // Servers starting together take turns: the first creates the tables, the others find them.
    const auto exec = [connection](const char *sql) {
        return PostgresResult(PQexecParams(connection, sql, 0, nullptr, nullptr, nullptr, nullptr, 1));
    };
    const auto failed = [&](const char *what) {
        error = std::string(what) + ": " + messageOf(connection);
        PQclear(PQexec(connection, "ROLLBACK"));
        return false;
    };
    if (!exec("BEGIN").ok())
        return failed("cannot prepare the database");
    const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")";
    if (!exec(lock.c_str()).ok() || !exec("CREATE TABLE IF NOT EXISTS vigilor_schema(version integer NOT NULL)").ok())
        return failed("cannot prepare the database");
    const PostgresResult version = exec("SELECT max(version) FROM vigilor_schema");
    if (!version.ok())
        return failed("cannot read the schema's version");
    if (version.isNull(0, 0) || version.number(0, 0) <= kSchemaVersion) {
        PGresult *created = PQexec(connection, kSchema);
        const bool ok = PQresultStatus(created) == PGRES_COMMAND_OK;
        PQclear(created);
        if (!ok)
            return failed("cannot create the schema");
    } else {
        error = "the database's schema is version " + std::to_string(version.number(0, 0)) +
                ", newer than this server's " + std::to_string(kSchemaVersion);
        PQclear(PQexec(connection, "ROLLBACK"));
        std::lock_guard<std::mutex> guard(mutex);
        tooNew = true;
        return false;
    }
    if (!exec("COMMIT").ok())
        return failed("cannot prepare the database");
    std::lock_guard<std::mutex> guard(mutex);
    schemaReady = true;
    return true;
}

std::unique_ptr<PostgresSession> PostgresDatabase::session(std::string &error)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!returned.wait_for(lock, kConnectionWait, [this] { return !idle.empty() || made < connections; })) {
        error = "every database connection is busy";
        return nullptr;
    }
    if (!idle.empty()) {
        PGconn *connection = idle.back();
        idle.pop_back();
        return std::make_unique<PostgresSession>(*this, connection, true);
    }
    // While the database is away, a request learns it at once instead of each waiting out a connect.
    if (std::chrono::steady_clock::now() < awayUntil) {
        error = awayBecause;
        return nullptr;
    }
    ++made;
    lock.unlock();
    PGconn *connection = connect(error);
    if (!connection) {
        {
            std::lock_guard<std::mutex> relock(mutex);
            awayUntil = std::chrono::steady_clock::now() + kRetryAfter;
            awayBecause = error;
        }
        release(nullptr, true);
        return nullptr;
    }
    return std::make_unique<PostgresSession>(*this, connection, false);
}

void PostgresDatabase::schemaLost()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        schemaReady = false;
        // The other idle connections were made before the loss; they go too, and each new one checks.
        for (PGconn *connection : idle) {
            PQfinish(connection);
            --made;
        }
        idle.clear();
    }
    returned.notify_all();
}

void PostgresDatabase::release(PGconn *connection, bool broken)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (broken) {
            PQfinish(connection);
            --made;
        } else {
            idle.push_back(connection);
        }
    }
    returned.notify_one();
}

PostgresResult::~PostgresResult()
{
    PQclear(result);
}

bool PostgresResult::ok() const
{
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

bool PostgresResult::outOfTime() const
{
    const char *state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return state && (std::strcmp(state, "55P03") == 0 || std::strcmp(state, "57014") == 0);
}

int PostgresResult::rows() const
{
    return PQntuples(result);
}

bool PostgresResult::isNull(int row, int column) const
{
    return PQgetisnull(result, row, column) != 0;
}

std::string PostgresResult::bytes(int row, int column) const
{
    return std::string(PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column)));
}

long long PostgresResult::number(int row, int column) const
{
    // Binary integers are big-endian, four or eight bytes.
    const char *value = PQgetvalue(result, row, column);
    if (PQgetlength(result, row, column) == 4) {
        std::uint32_t word;
        std::memcpy(&word, value, 4);
        return static_cast<std::int32_t>(ntohl(word));
    }
    if (PQgetlength(result, row, column) == 8) {
        std::uint32_t high, low;
        std::memcpy(&high, value, 4);
        std::memcpy(&low, value + 4, 4);
        return static_cast<long long>((static_cast<std::uint64_t>(ntohl(high)) << 32) | ntohl(low));
    }
    return 0;
}

PostgresSession::PostgresSession(PostgresDatabase &database, PGconn *connection, bool reused)
    : database(database), connection(connection), reused(reused)
{
}

PostgresSession::~PostgresSession()
{
    // A connection left inside a transaction by a failure is not fit to be lent again.
    database.release(connection, lost || broken() || PQtransactionStatus(connection) != PQTRANS_IDLE);
}

bool PostgresSession::broken() const
{
    return PQstatus(connection) != CONNECTION_OK;
}

std::string PostgresSession::error() const
{
    return messageOf(connection);
}

PostgresResult PostgresSession::run(const char *sql, const std::vector<PostgresParam> &params)
{
    std::vector<const char *> values;
    std::vector<int> lengths, formats;
    for (const PostgresParam &param : params) {
        values.push_back(param.data->c_str());
        lengths.push_back(static_cast<int>(param.data->size()));
        formats.push_back(param.binary ? 1 : 0);
    }
    const auto send = [&] {
        return PostgresResult(PQexecParams(connection, sql, static_cast<int>(params.size()), nullptr, values.data(),
                                           lengths.data(), formats.data(), 1));
    };
    PostgresResult result = send();
    // A pooled connection the database dropped while it sat idle fails its first statement; nothing was
    // done on it yet, so the statement goes again on a new connection.
    if (!used && reused && !result.ok() && broken()) {
        std::string ignored;
        if (PGconn *fresh = database.connect(ignored)) {
            PQfinish(connection);
            connection = fresh;
            result = send();
        }
    }
    used = true;
    // A table gone from under the server (an operator's DROP): this connection is let go, and the next
    // one makes what is missing before any work.
    const char *state = PQresultErrorField(result.handle(), PG_DIAG_SQLSTATE);
    if (state && std::strcmp(state, "42P01") == 0) {
        lost = true;
        database.schemaLost();
    }
    return result;
}
