#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// What a league's admin reads first about a report: the findings by colour and kind, and every
// trace row, finding and sign on one timeline. Counted as the program counts them for its own
// result, so that the page and the examiner's window give the same three numbers.
enum class ResultColour { Red, Orange, NotRead, None };

struct ResultEntry
{
    ResultColour colour = ResultColour::None;
    std::string group;   // the kind of finding, for the page's groups
    std::string time;    // "YYYY-MM-DD HH:MM:SS" in UTC; empty when the report gave none that reads
    std::string source;  // the part of the check, or the trace source
    std::string program; // a path, a process, an account or the text of a line
    std::string state;
    std::string rule; // the rule, list entry or ban that makes it a finding
    std::string medium;
    std::string digest;
    // A driver file under its check's counted line: evidence, not a finding of its own.
    bool counted = true;
};

struct ReportResult
{
    int counts[3] = {0, 0, 0};        // by ResultColour: Red, Orange, NotRead
    std::vector<ResultEntry> entries; // in the report's order
    // The program's own result of its whole check, when the report holds one: it counts only the
    // events since the check began, where the page counts the whole report.
    struct WholeCheck
    {
        bool held = false;
        int counts[3] = {0, 0, 0};
        std::string cancelledAt;
    } wholeCheck;
};

ReportResult readReportResult(const nlohmann::json &report);

// "2026-12-07T13:00:00.5+03:00" as "2026-12-07 10:00:00"; empty for what does not read as such a time.
std::string utcTimeText(const std::string &iso);

// Which timeline rows to show: a source ("" for any) and a colour ("red", "orange", "not_read",
// "none"; "" for any).
struct TimelineFilter
{
    std::string source;
    std::string colour;
};

const char *colourName(ResultColour colour);

// The entries the filter lets through, newest first; those without a time last, in the report's order.
std::vector<const ResultEntry *> timelineOf(const ReportResult &result, const TimelineFilter &filter);

// The timeline as CSV for a timeline viewer: UTF-8 with a byte order mark, RFC 4180 quoting, and a
// quote before a cell a spreadsheet would take for a formula.
std::string timelineCsv(const std::vector<const ResultEntry *> &rows);

// The result's parts of the admin report page: the three counts with the findings by colour and
// kind; the timeline (at most kTimelineShown rows, the CSV holds them all) with its filter and CSV link.
constexpr std::size_t kTimelineShown = 2000;
std::string findingsHtml(const ReportResult &result);
std::string timelineHtml(const ReportResult &result, const std::string &reportId, const TimelineFilter &filter);
