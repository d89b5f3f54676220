#include "SqliteStores.h"

#include "Sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <iostream>
#include <iterator>

namespace {
Report readRow(const Statement &row)
{
    Report report;
    report.seq = sqlite3_column_int64(row.get(), 0);
    report.id = row.text(1);
    report.received = row.text(2);
    report.sha256 = row.text(3);
    report.chain = row.text(4);
    report.body = row.text(5);
    report.machine = row.text(6);
    report.user = row.text(7);
    report.findings = sqlite3_column_int(row.get(), 8);
    report.banned = sqlite3_column_int(row.get(), 9);
    return report;
}

// Every row of the query, or empty when it fails part way.
std::optional<std::vector<Report>> readRows(Statement &query)
{
    std::vector<Report> reports;
    int step;
    while ((step = query.step()) == SQLITE_ROW)
        reports.push_back(readRow(query));
    if (step != SQLITE_DONE)
        return std::nullopt;
    return reports;
}

constexpr const char *kColumns =
    "SELECT seq, id, received, sha256, chain, body, machine, user, findings, banned FROM reports";
// The same without the body, for lists.
constexpr const char *kListColumns =
    "SELECT seq, id, received, sha256, chain, '', machine, user, findings, banned FROM reports";
} // namespace

SqliteReportStore::SqliteReportStore(const std::string &path)
{
    db = openWritable(path,
                      "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA busy_timeout=5000;"
                      "CREATE TABLE IF NOT EXISTS reports(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, "
                      "received TEXT NOT NULL, sha256 TEXT NOT NULL, chain TEXT NOT NULL, body BLOB NOT NULL, "
                      "machine TEXT, user TEXT, findings INTEGER, banned INTEGER)",
                      lastError);
}

SqliteReportStore::~SqliteReportStore()
{
    sqlite3_close(db);
}

ReportStore::Outcome SqliteReportStore::add(Report &report, std::string &error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!db) {
        error = lastError;
        return Outcome::Failed;
    }
    const std::optional<std::string> id = newReportId();
    if (!id) {
        error = "no random bits for an id";
        return Outcome::Failed;
    }
    report.id = *id;
    report.received = utcNow();
    report.sha256 = sha256Hex(report.body);

    // The previous chain value and the new row in one transaction: two reports never chain to one.
    // A database another process holds is busy for a moment: the examiner is told to try again (503).
    const int begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (begun != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return begun == SQLITE_BUSY || begun == SQLITE_LOCKED ? Outcome::Unavailable : Outcome::Failed;
    }
    std::string previous = kChainGenesis;
    {
        // A head that cannot be read fails the report: a report chained to the genesis value in the
        // middle of the chain would break it for every later check.
        Statement last(db, "SELECT chain FROM reports ORDER BY seq DESC LIMIT 1");
        const int step = last.step();
        if (step == SQLITE_ROW) {
            previous = last.text(0);
        } else if (step != SQLITE_DONE) {
            error = sqlite3_errmsg(db);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return step == SQLITE_BUSY || step == SQLITE_LOCKED ? Outcome::Unavailable : Outcome::Failed;
        }
    }
    report.chain = chainValue(previous, report.sha256, report.received);

    bool stored = false;
    {
        Statement insert(db, "INSERT INTO reports(id, received, sha256, chain, body, machine, user, findings, banned) "
                             "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        insert.bind(1, report.id);
        insert.bind(2, report.received);
        insert.bind(3, report.sha256);
        insert.bind(4, report.chain);
        insert.bindBlob(5, report.body);
        insert.bind(6, report.machine);
        insert.bind(7, report.user);
        insert.bind(8, static_cast<long long>(report.findings));
        insert.bind(9, static_cast<long long>(report.banned));
        stored = insert.step() == SQLITE_DONE;
        report.seq = sqlite3_last_insert_rowid(db);
    }
    const int committed = stored ? sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) : SQLITE_ERROR;
    if (committed != SQLITE_OK) {
        const int code = sqlite3_errcode(db);
        error = sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return code == SQLITE_BUSY || code == SQLITE_LOCKED ? Outcome::Unavailable : Outcome::Failed;
    }
    return Outcome::Stored;
}

bool SqliteReportStore::find(const std::string &id, std::optional<Report> &report)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string(kColumns) + " WHERE id = ?1");
    query.bind(1, id);
    const std::optional<std::vector<Report>> rows = readRows(query);
    if (!rows)
        return false;
    report = rows->empty() ? std::nullopt : std::optional<Report>(rows->front());
    return true;
}

std::optional<std::vector<Report>> SqliteReportStore::after(long long seq, int limit)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string(kColumns) + " WHERE seq > ?1 ORDER BY seq LIMIT ?2");
    query.bind(1, seq);
    query.bind(2, static_cast<long long>(limit));
    return readRows(query);
}

std::optional<std::vector<Report>> SqliteReportStore::last(int count)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string(kListColumns) + " WHERE seq >= COALESCE((SELECT seq FROM reports ORDER BY "
                                                    "seq DESC LIMIT 1 OFFSET ?1), 0) ORDER BY seq");
    query.bind(1, static_cast<long long>(count - 1));
    return readRows(query);
}

SqliteBanCache::SqliteBanCache(const std::string &path)
{
    db = openWritable(path,
                      "PRAGMA journal_mode=WAL;"
                      "CREATE TABLE IF NOT EXISTS ban_cache(account TEXT PRIMARY KEY, vac INTEGER NOT NULL, "
                      "community INTEGER NOT NULL, vac_bans INTEGER NOT NULL, game_bans INTEGER NOT NULL, "
                      "days_since_last_ban INTEGER NOT NULL, economy TEXT NOT NULL, fetched INTEGER NOT NULL)",
                      lastError);
}

SqliteBanCache::~SqliteBanCache()
{
    sqlite3_close(db);
}

std::optional<BanCache::Entry> SqliteBanCache::get(const std::string &account)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, "SELECT vac, community, vac_bans, game_bans, days_since_last_ban, economy, fetched "
                        "FROM ban_cache WHERE account = ?1");
    query.bind(1, account);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    Entry entry;
    entry.bans.vac = sqlite3_column_int(query.get(), 0) != 0;
    entry.bans.community = sqlite3_column_int(query.get(), 1) != 0;
    entry.bans.vacBans = sqlite3_column_int(query.get(), 2);
    entry.bans.gameBans = sqlite3_column_int(query.get(), 3);
    entry.bans.daysSinceLastBan = sqlite3_column_int(query.get(), 4);
    entry.bans.economy = query.text(5);
    entry.fetched = sqlite3_column_int64(query.get(), 6);
    return entry;
}

void SqliteBanCache::put(const std::string &account, const Entry &entry)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement insert(db, "INSERT OR REPLACE INTO ban_cache VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    insert.bind(1, account);
    insert.bind(2, static_cast<long long>(entry.bans.vac));
    insert.bind(3, static_cast<long long>(entry.bans.community));
    insert.bind(4, static_cast<long long>(entry.bans.vacBans));
    insert.bind(5, static_cast<long long>(entry.bans.gameBans));
    insert.bind(6, static_cast<long long>(entry.bans.daysSinceLastBan));
    insert.bind(7, entry.bans.economy);
    insert.bind(8, entry.fetched);
    if (insert.step() != SQLITE_DONE)
        std::cerr << "ban cache not written: " << sqlite3_errmsg(db) << std::endl;
}

RateLimit::Verdict MemoryRateLimit::allow(const std::string &address)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    // Addresses whose minute has passed are forgotten; past the table's size, the one heard from least
    // lately makes room, never every address at once.
    if (recent.size() >= kLargestTable && !recent.count(address)) {
        for (auto it = recent.begin(); it != recent.end();)
            it = it->second.empty() || now - it->second.back() >= std::chrono::minutes(1) ? recent.erase(it)
                                                                                          : std::next(it);
        if (recent.size() >= kLargestTable)
            recent.erase(std::min_element(recent.begin(), recent.end(), [](const auto &a, const auto &b) {
                return a.second.back() < b.second.back();
            }));
    }
    std::deque<std::chrono::steady_clock::time_point> &times = recent[address];
    while (!times.empty() && now - times.front() >= std::chrono::minutes(1))
        times.pop_front();
    if (static_cast<int>(times.size()) >= limit)
        return Verdict::Refused;
    times.push_back(now);
    return Verdict::Allowed;
}
