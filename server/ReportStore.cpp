#include "ReportStore.h"

#include "Sqlite.h"
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {
const std::string kGenesis(64, '0');

// Letters and digits that cannot be mistaken for one another when read out (no I, L, O, U).
constexpr char kIdAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

// 60 random bits as XXXX-XXXX-XXXX.
std::optional<std::string> newId()
{
    unsigned char bytes[12];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return std::nullopt;
    std::string id;
    for (int i = 0; i < 12; ++i) {
        if (i == 4 || i == 8)
            id += '-';
        id += kIdAlphabet[bytes[i] & 31];
    }
    return id;
}

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char withMillis[40];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03dZ", text, static_cast<int>(millis));
    return withMillis;
}

ReportStore::Report readRow(const Statement &row)
{
    ReportStore::Report report;
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

// Why the report's link does not hold after `previous`; empty when it does.
std::string linkProblem(const ReportStore::Report &report, const std::string &previous)
{
    if (sha256Hex(report.body) != report.sha256)
        return "its body does not match its SHA-256";
    if (chainValue(previous, report.sha256, report.received) != report.chain)
        return "its chain value does not follow from the report before it (a report was changed, removed or moved)";
    return std::string();
}

constexpr const char *kColumns =
    "SELECT seq, id, received, sha256, chain, body, machine, user, findings, banned FROM reports";
} // namespace

std::string sha256Hex(const std::string &data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(data.data()), data.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char byte : digest) {
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out;
}

std::string chainValue(const std::string &previous, const std::string &bodySha256, const std::string &received)
{
    return sha256Hex(previous + bodySha256 + received);
}

ReportStore::ReportStore(const std::string &path)
{
    db = openWritable(path,
                      "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA busy_timeout=5000;"
                      "CREATE TABLE IF NOT EXISTS reports(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, "
                      "received TEXT NOT NULL, sha256 TEXT NOT NULL, chain TEXT NOT NULL, body BLOB NOT NULL, "
                      "machine TEXT, user TEXT, findings INTEGER, banned INTEGER)",
                      lastError);
}

ReportStore::~ReportStore()
{
    sqlite3_close(db);
}

std::optional<ReportStore::Report> ReportStore::add(Report report)
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::optional<std::string> id = newId();
    if (!id)
        return std::nullopt;
    report.id = *id;
    report.received = utcNow();
    report.sha256 = sha256Hex(report.body);

    // The previous chain value and the new row in one transaction: two reports never chain to one.
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        lastError = sqlite3_errmsg(db);
        return std::nullopt;
    }
    std::string previous = kGenesis;
    {
        Statement last(db, "SELECT chain FROM reports ORDER BY seq DESC LIMIT 1");
        if (last.step() == SQLITE_ROW)
            previous = last.text(0);
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
    if (!stored || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        lastError = sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::nullopt;
    }
    return report;
}

std::vector<ReportStore::Report> ReportStore::newest(int limit)
{
    std::lock_guard<std::mutex> lock(mutex);
    // The report just before the newest `limit` comes along for its chain value.
    std::vector<Report> reports;
    {
        Statement query(db, std::string(kColumns) + " WHERE seq >= COALESCE((SELECT seq FROM reports ORDER BY seq "
                                                    "DESC LIMIT 1 OFFSET ?1), 0) ORDER BY seq");
        query.bind(1, static_cast<long long>(limit));
        while (query.step() == SQLITE_ROW)
            reports.push_back(readRow(query));
    }

    std::string previous = kGenesis;
    std::size_t first = 0;
    if (reports.size() > static_cast<std::size_t>(limit)) {
        previous = reports.front().chain;
        first = 1;
    }
    std::vector<Report> shown;
    for (std::size_t i = first; i < reports.size(); ++i) {
        reports[i].linkHolds = linkProblem(reports[i], previous).empty();
        previous = reports[i].chain;
        shown.push_back(std::move(reports[i]));
    }
    std::reverse(shown.begin(), shown.end());
    return shown;
}

std::optional<ReportStore::Report> ReportStore::find(const std::string &id)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string(kColumns) + " WHERE id = ?1");
    query.bind(1, id);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    return readRow(query);
}

std::optional<std::pair<ReportStore::Report, std::string>> ReportStore::firstBreak(long long &checked,
                                                                                   std::string &head)
{
    checked = 0;
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string(kColumns) + " ORDER BY seq");
    std::string previous = kGenesis;
    std::optional<std::pair<Report, std::string>> broken;
    while (!broken && query.step() == SQLITE_ROW) {
        Report report = readRow(query);
        const std::string problem = linkProblem(report, previous);
        if (!problem.empty())
            broken = std::make_pair(report, problem);
        previous = report.chain;
        ++checked;
    }
    head = previous;
    return broken;
}
