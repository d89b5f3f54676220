#include "ReportResult.h"

#include "ReportFields.h"

#include <algorithm>
#include <cstdio>

namespace {
using json = nlohmann::json;

// A level of 0 asks for attention; any other is a violation.
ResultColour byLevel(const json &object)
{
    return numberField(object, "level") != 0 ? ResultColour::Red : ResultColour::Orange;
}

// A caption of a name the program writes, or the name itself.
std::string shownName(const std::string &name, std::string (*caption)(const std::string &))
{
    const std::string shown = caption(name);
    return shown.empty() ? name : shown;
}

class Reader
{
public:
    ReportResult result;

    void add(ResultEntry entry)
    {
        if (entry.counted && entry.colour != ResultColour::None)
            ++result.counts[static_cast<int>(entry.colour)];
        result.entries.push_back(std::move(entry));
    }

    void readScan(const json &event)
    {
        const std::string time = utcTimeText(textField(event, "time"));
        for (const json &finding : arrayField(event, "findings")) {
            const std::string kind = textField(finding, "kind");
            ResultEntry entry;
            entry.time = time;
            entry.source = "Сканирование";
            entry.program = scanTarget(finding);
            if (kind == "unreadable" || (kind == "signature" && finding.contains("error"))) {
                entry.colour = ResultColour::NotRead;
                entry.group = "Сканирование";
                entry.rule = kind == "unreadable"                       ? textField(finding, "reason")
                             : textField(finding, "error") == "timeout" ? "не проверено за 10 с"
                                                                        : textField(finding, "error");
            } else if (kind == "search_term") {
                entry.colour = ResultColour::Orange;
                entry.group = "Поисковые запросы";
                entry.source = "Браузеры";
                entry.program =
                    textField(finding, "browser") +
                    (textField(finding, "profile").empty() ? "" : " (" + textField(finding, "profile") + ")");
                entry.rule = textField(finding, "term");
            } else {
                entry.colour = byLevel(finding);
                entry.group = kind == "rule"            ? "Запрещённые программы"
                              : kind == "signature"     ? "Сигнатуры"
                              : kind == "hidden_window" ? "Окна, скрытые от записи экрана"
                                                        : kind;
                entry.rule = textField(finding, "description");
                if (!textField(finding, "rule").empty())
                    entry.rule += " [" + textField(finding, "rule") + "]";
            }
            add(std::move(entry));
        }
    }

    void readTraces(const json &event)
    {
        for (const json &row : arrayField(event, "rows")) {
            ResultEntry entry;
            const bool matched = row.is_object() && row.contains("rule");
            entry.colour = matched ? byLevel(row) : ResultColour::None;
            entry.group = "Следы запуска";
            entry.time = utcTimeText(textField(row, "time"));
            entry.source = textField(row, "source");
            entry.program = textField(row, "path");
            entry.state = shownName(textField(row, "state"), traceStateCaption);
            if (!textField(row, "renamed_to").empty())
                entry.state += " → " + textField(row, "renamed_to");
            entry.rule = textField(row, matched ? "rule" : "threat");
            if (!textField(row, "matched_file").empty())
                entry.rule += " (загружен " + textField(row, "matched_file") + ")";
            entry.medium = shownName(textField(row, "medium"), traceMediumCaption);
            entry.digest = traceDigest(row);
            add(std::move(entry));
        }
        const std::string time = utcTimeText(textField(event, "time"));
        const std::tuple<const char *, ResultColour, const char *, const char *> lists[] = {
            {"signs", ResultColour::Red, "Признаки сокрытия следов", ""},
            {"notices", ResultColour::Orange, "Замечания к следам", ""},
            {"unreadable", ResultColour::NotRead, "Следы запуска", "Нет прав на чтение: "},
            {"not_read", ResultColour::NotRead, "Следы запуска", "Не прочитано: "}};
        for (const auto &[key, colour, group, opening] : lists) {
            for (const json &item : arrayField(event, key)) {
                ResultEntry entry;
                entry.colour = colour;
                entry.group = group;
                entry.time = time;
                entry.source = "Следы запуска";
                entry.program = opening + (item.is_string() ? item.get<std::string>() : item.dump());
                add(std::move(entry));
            }
        }
    }

    void readDrivers(const json &event)
    {
        const std::string time = utcTimeText(textField(event, "time"));
        for (const json &line : arrayField(event, "lines")) {
            const std::string level = textField(line, "level");
            ResultEntry entry;
            entry.colour = level == "red"        ? ResultColour::Red
                           : level == "orange"   ? ResultColour::Orange
                           : level == "not_read" ? ResultColour::NotRead
                                                 : ResultColour::None;
            entry.group = "Драйверы";
            entry.time = time;
            entry.source = "Драйверы";
            entry.program = textField(line, "text");
            add(std::move(entry));
        }
        for (const json &row : arrayField(event, "findings")) {
            const std::string level = textField(row, "level");
            if (level != "red" && level != "orange")
                continue;
            ResultEntry entry;
            entry.colour = level == "red" ? ResultColour::Red : ResultColour::Orange;
            entry.counted = false;
            entry.group = "Драйверы";
            entry.time = time;
            entry.source = "Драйверы";
            entry.program = textField(row, "path").empty() ? textField(row, "name") : textField(row, "path");
            entry.state = shownName(textField(row, "state"), driverStateCaption);
            entry.rule = textField(row, "list");
            entry.digest = textField(row, "sha256");
            add(std::move(entry));
        }
    }

    void readAccount(const json &event)
    {
        ResultEntry entry;
        entry.group = "Аккаунты";
        entry.time = utcTimeText(textField(event, "time"));
        entry.source = "Аккаунты";
        if (textField(event, "type") == "accounts") {
            entry.colour = ResultColour::NotRead;
            entry.program = textField(event, "not_read");
            entry.rule = "аккаунты не проверены";
            return add(std::move(entry));
        }
        entry.program = textField(event, "persona_name") + " (" + textField(event, "steam_id") + ")";
        if (event.contains("looked_up") && !flagField(event, "looked_up")) {
            entry.colour = ResultColour::NotRead;
            entry.rule = "проверка не удалась";
            return add(std::move(entry));
        }
        entry.rule = accountBans(event);
        entry.colour = entry.rule.empty() ? ResultColour::None : ResultColour::Red;
        if (entry.rule.empty())
            entry.rule = "блокировок нет";
        add(std::move(entry));
    }
};

bool digitsAt(const std::string &s, std::size_t at, std::size_t count, int &value)
{
    if (s.size() < at + count)
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
long long daysFromCivil(long long y, int m, int d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string civilFromSeconds(long long seconds)
{
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2);
    char out[80];
    std::snprintf(out, sizeof out, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, rest / 3600, rest / 60 % 60,
                  rest % 60);
    return out;
}

// A cell a spreadsheet would not run: quoted where CSV needs it, a quote before a formula's sign.
std::string csvCell(std::string cell)
{
    if (!cell.empty() && std::string("=+-@\t\r").find(cell.front()) != std::string::npos)
        cell.insert(0, 1, '\'');
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (const char c : cell)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
} // namespace

ReportResult readReportResult(const json &report)
{
    Reader reader;
    for (const json &event : arrayField(report, "events")) {
        const std::string type = textField(event, "type");
        if (type == "scan")
            reader.readScan(event);
        else if (type == "traces")
            reader.readTraces(event);
        else if (type == "drivers")
            reader.readDrivers(event);
        else if (type == "account" || type == "accounts")
            reader.readAccount(event);
        else if (type == "whole_check") {
            ReportResult::WholeCheck &check = reader.result.wholeCheck;
            check.held = true;
            check.counts[0] = static_cast<int>(numberField(event, "violations"));
            check.counts[1] = static_cast<int>(numberField(event, "attention"));
            check.counts[2] = static_cast<int>(numberField(event, "not_checked"));
            check.cancelledAt = textField(event, "cancelled_at");
        }
    }
    return reader.result;
}

std::string utcTimeText(const std::string &iso)
{
    int year, month, day, hour, minute, second;
    if (iso.size() < 19 || !digitsAt(iso, 0, 4, year) || iso[4] != '-' || !digitsAt(iso, 5, 2, month) ||
        iso[7] != '-' || !digitsAt(iso, 8, 2, day) || (iso[10] != 'T' && iso[10] != ' ') ||
        !digitsAt(iso, 11, 2, hour) || iso[13] != ':' || !digitsAt(iso, 14, 2, minute) || iso[16] != ':' ||
        !digitsAt(iso, 17, 2, second))
        return std::string();
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::string();
    std::size_t at = 19;
    if (at < iso.size() && iso[at] == '.') {
        ++at;
        const std::size_t digits = at;
        while (at < iso.size() && iso[at] >= '0' && iso[at] <= '9')
            ++at;
        if (at == digits)
            return std::string();
    }
    // No zone: the program writes UTC, so it is taken as such.
    int offset = 0;
    if (at < iso.size() && iso[at] == 'Z') {
        ++at;
    } else if (at < iso.size() && (iso[at] == '+' || iso[at] == '-')) {
        int hours, minutes;
        if (!digitsAt(iso, at + 1, 2, hours) || iso.size() < at + 6 || iso[at + 3] != ':' ||
            !digitsAt(iso, at + 4, 2, minutes) || hours > 23 || minutes > 59)
            return std::string();
        offset = (iso[at] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
        at += 6;
    }
    if (at != iso.size())
        return std::string();
    const long long seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    return civilFromSeconds(seconds);
}

const char *colourName(ResultColour colour)
{
    switch (colour) {
    case ResultColour::Red:
        return "red";
    case ResultColour::Orange:
        return "orange";
    case ResultColour::NotRead:
        return "not_read";
    case ResultColour::None:
        break;
    }
    return "none";
}

std::vector<const ResultEntry *> timelineOf(const ReportResult &result, const TimelineFilter &filter)
{
    std::vector<const ResultEntry *> rows;
    for (const ResultEntry &entry : result.entries) {
        if ((filter.source.empty() || entry.source == filter.source) &&
            (filter.colour.empty() || filter.colour == colourName(entry.colour)))
            rows.push_back(&entry);
    }
    // The text sorts as the time does: one fixed width, UTC.
    std::stable_sort(rows.begin(), rows.end(), [](const ResultEntry *a, const ResultEntry *b) {
        return !a->time.empty() && (b->time.empty() || a->time > b->time);
    });
    return rows;
}

std::string timelineCsv(const std::vector<const ResultEntry *> &rows)
{
    std::string csv = "\xEF\xBB\xBFtime_utc,source,program,state,rule,medium,digest\r\n";
    for (const ResultEntry *row : rows) {
        csv += csvCell(row->time) + ',' + csvCell(row->source) + ',' + csvCell(row->program) + ',' +
               csvCell(row->state) + ',' + csvCell(row->rule) + ',' + csvCell(row->medium) + ',' +
               csvCell(row->digest) + "\r\n";
    }
    return csv;
}
