#include "Stores.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <chrono>
#include <ctime>

const std::string kChainGenesis(64, '0');

namespace {
// Letters and digits that cannot be mistaken for one another when read out (no I, L, O, U).
constexpr char kIdAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int kPage = 500;

// Why the report's link does not hold after `previous`; empty when it does.
std::string linkProblem(const Report &report, const std::string &previous)
{
    if (sha256Hex(report.body) != report.sha256)
        return "its body does not match its SHA-256";
    if (chainValue(previous, report.sha256, report.received) != report.chain)
        return "its chain value does not follow from the report before it (a report was changed, removed or moved)";
    return std::string();
}
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

std::optional<std::string> newReportId()
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

std::optional<std::vector<Report>> ReportStore::newest(int limit)
{
    // The report just before the newest `limit` comes along for its chain value.
    std::optional<std::vector<Report>> reports = last(limit + 1);
    if (!reports)
        return std::nullopt;
    std::string previous = kChainGenesis;
    std::size_t first = 0;
    if (reports->size() > static_cast<std::size_t>(limit)) {
        previous = reports->front().chain;
        first = 1;
    }
    std::vector<Report> shown;
    for (std::size_t i = first; i < reports->size(); ++i) {
        const Report &report = (*reports)[i];
        (*reports)[i].linkHolds = chainValue(previous, report.sha256, report.received) == report.chain;
        previous = (*reports)[i].chain;
        shown.push_back(std::move((*reports)[i]));
    }
    std::reverse(shown.begin(), shown.end());
    return shown;
}

bool ReportStore::firstBreak(std::optional<std::pair<Report, std::string>> &broken, long long &checked,
                             std::string &head)
{
    broken.reset();
    checked = 0;
    head = kChainGenesis;
    long long seq = 0;
    while (!broken) {
        const std::optional<std::vector<Report>> page = after(seq, kPage);
        if (!page)
            return false;
        for (const Report &report : *page) {
            const std::string problem = linkProblem(report, head);
            ++checked;
            head = report.chain;
            if (!problem.empty()) {
                broken = std::make_pair(report, problem);
                break;
            }
        }
        if (page->size() < static_cast<std::size_t>(kPage))
            break;
        seq = page->back().seq;
    }
    return true;
}
