#pragma once

#include "SteamApi.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// SHA-256 of `data` in lower-case hex.
std::string sha256Hex(const std::string &data);

// The chain value of a report: SHA-256 over the previous report's chain value, the body's hash and
// the receipt time (the first report's predecessor is 64 zeros).
std::string chainValue(const std::string &previous, const std::string &bodySha256, const std::string &received);
extern const std::string kChainGenesis;

// A new report's id: 60 random bits as XXXX-XXXX-XXXX; empty when no random bits could be had.
std::optional<std::string> newReportId();
// The time now in UTC, to the millisecond, as 2026-12-07T20:07:15.123Z.
std::string utcNow();

// A report as stored: its body exactly as received, its place in the chain, and the fields of the list.
struct Report
{
    long long seq = 0;
    std::string id;
    std::string received;
    std::string sha256;
    std::string chain;
    std::string body;
    // Taken from the body when it was received, for the list of reports.
    std::string machine;
    std::string user;
    int findings = 0;
    int banned = 0;
    // Whether this report's hash and chain link hold, given the chain value stored before it.
    bool linkHolds = true;
};

// The reports examiners sent, each with a random id, its UTC receipt time, its body's SHA-256 and a hash
// chain over all reports in order, so that changing, removing or reordering a stored report shows.
class ReportStore
{
public:
    enum class Outcome { Stored, Unavailable, Failed };

    virtual ~ReportStore() = default;

    // Stores `report.body` with its list fields and fills in the rest. Unavailable when the database
    // cannot be reached now (trying later may succeed); the reason goes to `error`.
    virtual Outcome add(Report &report, std::string &error) = 0;
    // Whether the store could be read; `report` is empty when no report has the id.
    virtual bool find(const std::string &id, std::optional<Report> &report) = 0;
    // Up to `limit` reports numbered after `seq`, in order; empty when the store cannot be read.
    virtual std::optional<std::vector<Report>> after(long long seq, int limit) = 0;
    // The newest `count` reports in order, oldest first, without their bodies (a list of hundreds of
    // reports of up to 16 MiB each would otherwise be read whole); empty when the store cannot be read.
    virtual std::optional<std::vector<Report>> last(int count) = 0;

    // The newest `limit` reports, newest first, without bodies, each chain link checked from the stored
    // digests (a changed body shows in its own check, --verify-reports); empty when the store cannot
    // be read.
    std::optional<std::vector<Report>> newest(int limit);
    // The first report where the chain breaks, with why; empty when it holds. `checked` counts the
    // reports read and `head` is the last chain value. False when the store could not be read to the end.
    bool firstBreak(std::optional<std::pair<Report, std::string>> &broken, long long &checked, std::string &head);
};

// Steam's answers, with the time each was fetched.
class BanCache
{
public:
    struct Entry
    {
        PlayerBans bans;
        long long fetched = 0; // seconds since the epoch
    };

    virtual ~BanCache() = default;
    // Empty when nothing is cached or the cache cannot be read: either way Steam is asked.
    virtual std::optional<Entry> get(const std::string &account) = 0;
    virtual void put(const std::string &account, const Entry &entry) = 0;
};

// At most so many reports a minute from one address.
class RateLimit
{
public:
    enum class Verdict { Allowed, Refused, Unavailable };

    virtual ~RateLimit() = default;
    // Counts the report when it is allowed.
    virtual Verdict allow(const std::string &address) = 0;
};
