#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// SHA-256 of `data` in lower-case hex.
std::string sha256Hex(const std::string &data);

// The chain value of a report: SHA-256 over the previous report's chain value, the body's hash and
// the receipt time (the first report's predecessor is 64 zeros).
std::string chainValue(const std::string &previous, const std::string &bodySha256, const std::string &received);

// The reports examiners sent, stored exactly as received in an SQLite table `reports`, each with a
// random id, its UTC receipt time, its body's SHA-256 and a hash chain over all reports in order,
// so that changing, removing or reordering a stored report shows.
class ReportStore
{
public:
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

    explicit ReportStore(const std::string &path);
    ~ReportStore();
    ReportStore(const ReportStore &) = delete;
    ReportStore &operator=(const ReportStore &) = delete;

    bool isOpen() const { return db != nullptr; }
    const std::string &error() const { return lastError; }

    // Stores `summary.body` with the summary's list fields; the rest is filled in. Empty when it could
    // not be stored.
    std::optional<Report> add(Report summary);
    // The newest `limit` reports, newest first, each link checked.
    std::vector<Report> newest(int limit);
    std::optional<Report> find(const std::string &id);

    // The first report where the chain breaks, with why; empty when it holds. `checked` counts the
    // reports read and `head` is the last chain value.
    std::optional<std::pair<Report, std::string>> firstBreak(long long &checked, std::string &head);

private:
    sqlite3 *db = nullptr;
    std::string lastError;
    std::mutex mutex;
};
