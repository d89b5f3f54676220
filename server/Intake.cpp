#include "Intake.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <vector>

namespace {
// Walks the text as a stream of events, keeping only the keys of the objects still open.
class ReportChecker : public nlohmann::json_sax<nlohmann::json>
{
public:
    std::string fault;

    bool formatFound = false;

    bool null() override { return counted(); }
    bool boolean(bool) override { return counted(); }
    bool number_integer(number_integer_t) override { return counted(); }
    bool number_unsigned(number_unsigned_t) override { return counted(); }
    bool number_float(number_float_t, const string_t &) override { return counted(); }
    bool binary(binary_t &) override { return counted(); }
    bool string(string_t &value) override
    {
        if (keys.size() == 1 && lastKey == "format")
            formatFound = value == "vigilor-report/1";
        return noNul(value, "a string") && counted();
    }
    bool start_object(std::size_t) override
    {
        keys.emplace_back();
        return deepEnough() && counted();
    }
    bool key(string_t &value) override
    {
        if (!noNul(value, "a key"))
            return false;
        if (!keys.back().insert(value).second) {
            fault = "the key \"" + value + "\" appears twice in one object";
            return false;
        }
        lastKey = value;
        return true;
    }
    bool end_object() override
    {
        keys.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        keys.emplace_back(); // arrays count for the depth, and hold no keys
        lastKey.clear();
        return deepEnough() && counted();
    }
    bool end_array() override
    {
        keys.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &) override
    {
        if (fault.empty())
            fault = "not JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

private:
    bool counted()
    {
        if (++values <= kMaxReportValues)
            return true;
        fault = "more than " + std::to_string(kMaxReportValues) + " values";
        return false;
    }
    bool deepEnough()
    {
        if (keys.size() <= kMaxReportDepth)
            return true;
        fault = "nested deeper than " + std::to_string(kMaxReportDepth) + " levels";
        return false;
    }
    bool noNul(const std::string &text, const char *what)
    {
        if (text.find('\0') == std::string::npos)
            return true;
        fault = std::string("a NUL character in ") + what;
        return false;
    }

    std::vector<std::set<std::string>> keys;
    std::string lastKey; // of the object open at the top level, when a value follows it there
    std::size_t values = 0;
};
} // namespace

std::string reportTextFault(const std::string &text)
{
    ReportChecker checker;
    // Strict: what follows the report is no part of it, and would make the text no JSON to a reader.
    const bool whole = nlohmann::json::sax_parse(text, &checker, nlohmann::json::input_format_t::json, true);
    if (!whole && checker.fault.empty())
        return "not JSON";
    if (checker.fault.empty() && !checker.formatFound)
        return "format must be vigilor-report/1";
    return checker.fault;
}

void LoginThrottle::forgetOld(Clock::time_point now)
{
    for (auto it = records.begin(); it != records.end();) {
        const bool over = now - it->second.windowStart > std::chrono::minutes(1) && now >= it->second.refusedUntil;
        it = over ? records.erase(it) : std::next(it);
    }
}

bool LoginThrottle::refused(const std::string &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = records.find(address);
    return found != records.end() && now < found->second.refusedUntil;
}

void LoginThrottle::failed(const std::string &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (records.size() > 10000)
        forgetOld(now);
    // Still this many: so many addresses are not examiners at a LAN. The table is bounded all the same,
    // by the address whose window began longest ago, never by forgetting every refused address at once.
    if (records.size() > 100000 && !records.count(address))
        records.erase(std::min_element(records.begin(), records.end(), [](const auto &a, const auto &b) {
            return a.second.windowStart < b.second.windowStart;
        }));
    Record &record = records[address];
    if (record.failures == 0 || now - record.windowStart > std::chrono::minutes(1)) {
        record.windowStart = now;
        record.failures = 0;
    }
    if (++record.failures >= kFailures)
        record.refusedUntil = now + std::chrono::minutes(1);
}
