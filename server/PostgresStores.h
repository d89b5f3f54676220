#pragma once

#include "PostgresDatabase.h"
#include "Stores.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The stores of servers that share one PostgreSQL database, so that several servers behind one
// address keep one chain of reports, one ban cache and one report limit.

class PostgresReportStore : public ReportStore
{
public:
    explicit PostgresReportStore(PostgresDatabase &database) : database(database) {}

    Outcome add(Report &report, std::string &error) override;
    bool find(const std::string &id, std::optional<Report> &report) override;
    std::optional<std::vector<Report>> after(long long seq, int limit) override;
    std::optional<std::vector<Report>> last(int count) override;

    // Copies every report of `source` with its number, receipt time and chain value unchanged, in one
    // transaction; refused unless this store is empty.
    bool copyFrom(ReportStore &source, long long &copied, std::string &error);

private:
    std::optional<std::vector<Report>> query(const char *sql, const std::vector<PostgresParam> &params);
    PostgresDatabase &database;
};

class PostgresBanCache : public BanCache
{
public:
    explicit PostgresBanCache(PostgresDatabase &database) : database(database) {}
    std::optional<Entry> get(const std::string &account) override;
    void put(const std::string &account, const Entry &entry) override;

private:
    PostgresDatabase &database;
};

// The report limit counted in the database, so that it holds across servers: each accepted report's
// arrival is a row, and the rows of one address are counted under a lock of that address.
class PostgresRateLimit : public RateLimit
{
public:
    PostgresRateLimit(PostgresDatabase &database, int limit) : database(database), limit(limit) {}
    Verdict allow(const std::string &address) override;

private:
    PostgresDatabase &database;
    const int limit;
    std::mutex mutex;
    std::chrono::steady_clock::time_point lastSweep{};
};
