#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

// Reports nest findings in events; deeper than this is made to exhaust whoever walks it.
constexpr std::size_t kMaxReportDepth = 64;

// Reports hold tens of thousands of values; more than this is made to be expensive to build.
constexpr std::size_t kMaxReportValues = 1000000;

// Why the text of a report is refused before anything is built from it, or empty when it may be
// parsed: nesting deeper than kMaxReportDepth, more than kMaxReportValues values, a key twice in one
// object (readers would disagree on which counts), a NUL in a key or a string (stores would disagree
// on where it ends), no JSON, or no object whose "format" is "vigilor-report/1". One pass over the
// text, with no tree built; it stops at the first fault.
std::string reportTextFault(const std::string &text);

// Failed admin logins per address: after kFailures within a minute, the address is refused for a
// minute. Thread-safe; forgets addresses whose minute has passed.
class LoginThrottle
{
public:
    static constexpr int kFailures = 10;
    using Clock = std::chrono::steady_clock;

    bool refused(const std::string &address, Clock::time_point now = Clock::now());
    void failed(const std::string &address, Clock::time_point now = Clock::now());

private:
    struct Record
    {
        Clock::time_point windowStart;
        int failures = 0;
        Clock::time_point refusedUntil;
    };
    void forgetOld(Clock::time_point now);

    std::mutex mutex;
    std::map<std::string, Record> records;
};
