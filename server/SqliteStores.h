#pragma once

#include "Stores.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>

struct sqlite3;

// The stores of a server alone on its machine: reports and Steam's answers in SQLite files beside the
// content, the report limit counted in memory.

// Reports in an SQLite table `reports`.
class SqliteReportStore : public ReportStore
{
public:
    explicit SqliteReportStore(const std::string &path);
    ~SqliteReportStore() override;
    SqliteReportStore(const SqliteReportStore &) = delete;
    SqliteReportStore &operator=(const SqliteReportStore &) = delete;

    bool isOpen() const { return db != nullptr; }
    const std::string &error() const { return lastError; }

    Outcome add(Report &report, std::string &error) override;
    bool find(const std::string &id, std::optional<Report> &report) override;
    std::optional<std::vector<Report>> after(long long seq, int limit) override;
    std::optional<std::vector<Report>> last(int count) override;

private:
    sqlite3 *db = nullptr;
    std::string lastError;
    std::mutex mutex;
};

// Steam's answers in an SQLite table `ban_cache`.
class SqliteBanCache : public BanCache
{
public:
    explicit SqliteBanCache(const std::string &path);
    ~SqliteBanCache() override;
    SqliteBanCache(const SqliteBanCache &) = delete;
    SqliteBanCache &operator=(const SqliteBanCache &) = delete;

    bool isOpen() const { return db != nullptr; }
    const std::string &error() const { return lastError; }

    std::optional<Entry> get(const std::string &account) override;
    void put(const std::string &account, const Entry &entry) override;

private:
    sqlite3 *db = nullptr;
    std::string lastError;
    std::mutex mutex;
};

// The report limit of one server, counted over the last minute in memory.
class MemoryRateLimit : public RateLimit
{
public:
    static constexpr std::size_t kLargestTable = 100000; // addresses

    explicit MemoryRateLimit(int limit) : limit(limit) {}
    Verdict allow(const std::string &address) override;

private:
    int limit;
    std::mutex mutex;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> recent;
};
