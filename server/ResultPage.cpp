#include "ReportPages.h"
#include "ReportResult.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>

namespace {
struct ColourSection
{
    ResultColour colour;
    const char *anchor;
    const char *title;
    const char *rowClass;
    const char *none;
};

const ColourSection kSections[] = {{ResultColour::Red, "red", "Нарушения", " class=\"bad\"", "Нарушений не найдено"},
                                   {ResultColour::Orange, "orange", "Требует внимания", " class=\"warn\"", "Ничего"},
                                   {ResultColour::NotRead, "not-read", "Не проверено", " class=\"unread\"", "Ничего"}};

const char *rowClassOf(ResultColour colour)
{
    for (const ColourSection &section : kSections) {
        if (section.colour == colour)
            return section.rowClass;
    }
    return "";
}

std::string urlEncoded(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

const char *const kTableHead = "<table><tr><th>Время (UTC)</th><th>Источник</th><th>Программа</th><th>Состояние</th>"
                               "<th>Правило</th><th>Носитель</th><th class=\"wide\">Хеш</th></tr>\n";

std::string entryRow(const ResultEntry &entry)
{
    return std::string("<tr") + rowClassOf(entry.colour) + "><td class=\"time\">" +
           (entry.time.empty() ? "—" : htmlEscape(entry.time)) + "</td><td>" + htmlEscape(entry.source) + "</td><td>" +
           htmlEscape(entry.program) + "</td><td>" + htmlEscape(entry.state) + "</td><td>" + htmlEscape(entry.rule) +
           "</td><td>" + htmlEscape(entry.medium) + "</td><td class=\"id wide\">" + htmlEscape(entry.digest) +
           "</td></tr>\n";
}

// One colour's findings, grouped by kind in the order the report met the kinds; a driver file
// follows its check's lines as evidence.
std::string colourSection(const ReportResult &result, const ColourSection &section)
{
    std::vector<std::string> groups;
    for (const ResultEntry &entry : result.entries) {
        if (entry.colour == section.colour && std::find(groups.begin(), groups.end(), entry.group) == groups.end())
            groups.push_back(entry.group);
    }
    std::string html = std::string("<section id=\"") + section.anchor + "\">\n<h2>" + section.title + "</h2>\n";
    if (groups.empty())
        return html + "<p>" + section.none + "</p>\n</section>\n";
    for (const std::string &group : groups) {
        int counted = 0;
        std::string rows;
        for (const ResultEntry &entry : result.entries) {
            if (entry.colour != section.colour || entry.group != group)
                continue;
            counted += entry.counted ? 1 : 0;
            rows += entryRow(entry);
        }
        html +=
            "<h3>" + htmlEscape(group) + ": " + std::to_string(counted) + "</h3>\n" + kTableHead + rows + "</table>\n";
    }
    return html + "</section>\n";
}

std::string option(const std::string &value, const std::string &caption, const std::string &chosen)
{
    return "<option value=\"" + htmlEscape(value) + "\"" + (value == chosen ? " selected" : "") + ">" +
           htmlEscape(caption) + "</option>";
}
} // namespace

std::string findingsHtml(const ReportResult &result)
{
    const int red = result.counts[static_cast<int>(ResultColour::Red)];
    std::string html = "<ul id=\"counts\">\n";
    html += red > 0 ? "<li class=\"bad\"><a href=\"#red\">Нарушения: " + std::to_string(red) + "</a></li>\n"
                    : std::string("<li><a href=\"#red\">Нарушений не найдено</a></li>\n");
    html += "<li class=\"warn\"><a href=\"#orange\">Требует внимания: " +
            std::to_string(result.counts[static_cast<int>(ResultColour::Orange)]) +
            "</a></li>\n<li><a href=\"#not-read\">Не проверено: " +
            std::to_string(result.counts[static_cast<int>(ResultColour::NotRead)]) + "</a></li>\n</ul>\n";
    const ReportResult::WholeCheck &check = result.wholeCheck;
    if (check.held && !std::equal(std::begin(check.counts), std::end(check.counts), std::begin(result.counts)))
        html += "<p>Полная проверка в программе насчитала: нарушения " + std::to_string(check.counts[0]) +
                ", требует внимания " + std::to_string(check.counts[1]) + ", не проверено " +
                std::to_string(check.counts[2]) + "; здесь сосчитан весь отчёт, с проверками до неё.</p>\n";
    if (!check.cancelledAt.empty())
        html += "<p class=\"warn\">Полная проверка отменена на шаге " + htmlEscape(check.cancelledAt) + ".</p>\n";
    for (const ColourSection &section : kSections)
        html += colourSection(result, section);
    return html;
}

std::string timelineHtml(const ReportResult &result, const std::string &reportId, const TimelineFilter &filter)
{
    std::set<std::string> sources;
    for (const ResultEntry &entry : result.entries)
        sources.insert(entry.source);
    std::string sourceOptions = option("", "все", filter.source);
    for (const std::string &source : sources)
        sourceOptions += option(source, source, filter.source);
    const std::string colourOptions = option("", "все", filter.colour) + option("red", "нарушения", filter.colour) +
                                      option("orange", "требует внимания", filter.colour) +
                                      option("not_read", "не проверено", filter.colour) +
                                      option("none", "без отметки", filter.colour);
    const std::vector<const ResultEntry *> rows = timelineOf(result, filter);
    std::string html =
        "<section id=\"timeline\">\n<h2>Хронология</h2>\n<form method=\"get\" action=\"#timeline\">"
        "<label>Источник <select name=\"source\">" +
        sourceOptions + "</select></label> <label>Отметка <select name=\"colour\">" + colourOptions +
        "</select></label> <button type=\"submit\">Показать</button></form>\n<p>Строк: " + std::to_string(rows.size()) +
        " · <a id=\"csv\" href=\"/admin/reports/" + htmlEscape(reportId) + ".csv?source=" + urlEncoded(filter.source) +
        "&amp;colour=" + urlEncoded(filter.colour) + "\">CSV</a></p>\n";
    if (rows.size() > kTimelineShown)
        html += "<p>Показаны первые " + std::to_string(kTimelineShown) + " строк, новые сверху; все — в CSV.</p>\n";
    html += kTableHead;
    for (std::size_t i = 0; i < rows.size() && i < kTimelineShown; ++i)
        html += entryRow(*rows[i]);
    return html + "</table>\n</section>\n";
}
