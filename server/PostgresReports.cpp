#include "PostgresStores.h"

#include <libpq-fe.h>

#include <iostream>

namespace {
// The advisory lock key that, with the address's hash, guards one address's report count.
constexpr int kRateLock = 0x56524C;

constexpr const char *kColumns =
    "SELECT seq, id, received, sha256, chain, body, machine, \"user\", findings, banned FROM reports";
// The same without the body, for lists.
constexpr const char *kListColumns =
    "SELECT seq, id, received, sha256, chain, ''::bytea, machine, \"user\", findings, banned FROM reports";

Report readReport(const PostgresResult &result, int row)
{
    Report report;
    report.seq = result.number(row, 0);
    report.id = result.bytes(row, 1);
    report.received = result.bytes(row, 2);
    report.sha256 = result.bytes(row, 3);
    report.chain = result.bytes(row, 4);
    report.body = result.bytes(row, 5);
    report.machine = result.bytes(row, 6);
    report.user = result.bytes(row, 7);
    report.findings = static_cast<int>(result.number(row, 8));
    report.banned = static_cast<int>(result.number(row, 9));
    return report;
}
// Writes the report with every field as it is.
bool insertReport(PostgresSession &session, const Report &report)
{
    return session
        .run("INSERT INTO reports(seq, id, received, sha256, chain, body, machine, \"user\", findings, banned) "
             "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)",
             {report.seq, report.id, report.received, report.sha256, report.chain, PostgresParam::bytes(report.body),
              report.machine, report.user, static_cast<long long>(report.findings),
              static_cast<long long>(report.banned)})
        .ok();
}
} // namespace

ReportStore::Outcome PostgresReportStore::add(Report &report, std::string &error)
{
    const std::optional<std::string> id = newReportId();
    if (!id) {
        error = "no random bits for an id";
        return Outcome::Failed;
    }
    report.id = *id;
    report.sha256 = sha256Hex(report.body);
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (!session)
        return Outcome::Unavailable;
    const auto failed = [&](bool outOfTime = false) {
        error = session->error();
        return session->broken() || outOfTime ? Outcome::Unavailable : Outcome::Failed;
    };
    if (!session->run("BEGIN").ok())
        return failed();
    const PostgresResult head = session->run("SELECT seq, chain FROM report_chain_head FOR UPDATE");
    if (!head.ok() || head.rows() != 1)
        return failed(head.outOfTime());
    // Taken under the head's lock, so that receipt times follow the chain's order on one clock.
    report.received = utcNow();
    report.seq = head.number(0, 0) + 1;
    report.chain = chainValue(head.bytes(0, 1), report.sha256, report.received);
    if (!insertReport(*session, report) ||
        !session->run("UPDATE report_chain_head SET seq = $1, chain = $2", {report.seq, report.chain}).ok() ||
        !session->run("COMMIT").ok())
        return failed();
    return Outcome::Stored;
}

std::optional<std::vector<Report>> PostgresReportStore::query(const char *sql, const std::vector<PostgresParam> &params)
{
    std::string error;
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (!session) {
        std::cerr << "reports not read: " << error << std::endl;
        return std::nullopt;
    }
    const PostgresResult result = session->run(sql, params);
    if (!result.ok()) {
        std::cerr << "reports not read: " << session->error() << std::endl;
        return std::nullopt;
    }
    std::vector<Report> reports;
    for (int row = 0; row < result.rows(); ++row)
        reports.push_back(readReport(result, row));
    return reports;
}

bool PostgresReportStore::find(const std::string &id, std::optional<Report> &report)
{
    const std::optional<std::vector<Report>> rows = query((std::string(kColumns) + " WHERE id = $1").c_str(), {id});
    if (!rows)
        return false;
    report = rows->empty() ? std::nullopt : std::optional<Report>(rows->front());
    return true;
}

std::optional<std::vector<Report>> PostgresReportStore::after(long long seq, int limit)
{
    return query((std::string(kColumns) + " WHERE seq > $1 ORDER BY seq LIMIT $2").c_str(),
                 {seq, static_cast<long long>(limit)});
}

std::optional<std::vector<Report>> PostgresReportStore::last(int count)
{
    return query(
        ("SELECT * FROM (" + std::string(kListColumns) + " ORDER BY seq DESC LIMIT $1) newest ORDER BY seq").c_str(),
        {static_cast<long long>(count)});
}

bool PostgresReportStore::copyFrom(ReportStore &source, long long &copied, std::string &error)
{
    copied = 0;
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (!session)
        return false;
    const auto failed = [&](const std::string &why) {
        error = why;
        return false;
    };
    if (!session->run("BEGIN").ok())
        return failed(session->error());
    const PostgresResult head = session->run("SELECT seq FROM report_chain_head FOR UPDATE");
    const PostgresResult count = session->run("SELECT count(*) FROM reports");
    if (!head.ok() || !count.ok())
        return failed(session->error());
    if (head.number(0, 0) != 0 || count.number(0, 0) != 0)
        return failed("the database holds reports already; reports are copied into an empty one only");
    long long seq = 0;
    std::string chain = kChainGenesis;
    for (;;) {
        const std::optional<std::vector<Report>> page = source.after(seq, 200);
        if (!page)
            return failed("the reports to copy cannot be read");
        for (const Report &report : *page) {
            if (!insertReport(*session, report))
                return failed(session->error());
            seq = report.seq;
            chain = report.chain;
            ++copied;
        }
        if (page->empty())
            break;
    }
    if (!session->run("UPDATE report_chain_head SET seq = $1, chain = $2", {seq, chain}).ok() ||
        !session->run("COMMIT").ok())
        return failed(session->error());
    return true;
}

RateLimit::Verdict PostgresRateLimit::allow(const std::string &address)
{
    std::string error;
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (!session)
        return Verdict::Unavailable;
    const auto failed = [&] {
        std::cerr << "report limit not counted: " << session->error() << std::endl;
        return Verdict::Unavailable;
    };
    // Arrivals older than a minute count no more: an address's own go each time, everybody's once a
    // minute from each server.
    bool sweep = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSweep >= std::chrono::minutes(1)) {
            lastSweep = now;
            sweep = true;
        }
    }
    if (sweep && !session->run("DELETE FROM report_arrivals WHERE at <= clock_timestamp() - interval '1 minute'").ok())
        return failed();
    const long long lockKey = kRateLock;
    if (!session->run("BEGIN").ok() ||
        !session->run("SELECT pg_advisory_xact_lock($1::integer, hashtext($2))", {lockKey, address}).ok() ||
        !session
             ->run("DELETE FROM report_arrivals WHERE address = $1 AND at <= clock_timestamp() - interval '1 minute'",
                   {address})
             .ok())
        return failed();
    const PostgresResult counted =
        session->run("INSERT INTO report_arrivals(address, at) SELECT $1, clock_timestamp() "
                     "WHERE (SELECT count(*) FROM report_arrivals WHERE address = $1) < $2 RETURNING 1",
                     {address, static_cast<long long>(limit)});
    if (!counted.ok() || !session->run("COMMIT").ok())
        return failed();
    return counted.rows() == 1 ? Verdict::Allowed : Verdict::Refused;
}
