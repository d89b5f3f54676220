#include "ReportPages.h"

#include "Intake.h"
#include "ReportFields.h"
#include "ReportResult.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <set>
#include <strings.h>

namespace {
const char *const kStyle = R"(<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body { background: #232629; color: #eff0f1; font-family: sans-serif; margin: 1em; }
a { color: #3daee9; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: 0.3em 0.6em; border-bottom: 1px solid #4d4d4d;
         overflow-wrap: anywhere; }
th { color: #3daee9; font-weight: normal; overflow-wrap: normal; }
.ok { color: #27ae60; } .bad { color: #ff5050; } .warn { color: orange; } .unread { color: #bdc3c7; font-style: italic; }
.time, .id { white-space: nowrap; }
#counts { font-size: 1.3em; } #counts .bad a { color: #ff5050; } #counts .warn a { color: orange; }
pre { white-space: pre-wrap; overflow-wrap: anywhere; }
@media (max-width: 600px) { .wide { display: none; } }
</style>)";

// "2026-12-07T14:17:38.062Z" as "2026-12-07 14:17:38", which may wrap between date and time.
std::string shortTime(const std::string &received)
{
    std::string shown = received.substr(0, 19);
    if (shown.size() > 10 && shown[10] == 'T')
        shown[10] = ' ';
    return shown;
}

std::string htmlPage(const std::string &title, const std::string &content)
{
    return "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">\n<title>" + htmlEscape(title) +
           "</title>\n" + kStyle + "\n</head><body>\n" + content + "</body></html>\n";
}

// A trace row's state, "—" for one the program does not write.
std::string traceState(const std::string &state)
{
    const std::string shown = traceStateCaption(state);
    return shown.empty() ? "—" : shown;
}

// A collection of execution traces: signs, unreadable sources, then the rows as the program recorded
// them (matches first).
std::string tracesHtml(const nlohmann::json &event)
{
    const nlohmann::json &rows = arrayField(event, "rows");
    int matches = 0;
    std::string table;
    for (const nlohmann::json &row : rows) {
        const bool matched = row.is_object() && row.contains("rule");
        matches += matched ? 1 : 0;
        const std::string rowClass =
            matched ? (numberField(row, "level") != 0 ? " class=\"bad\"" : " class=\"warn\"") : "";
        const std::string kind = textField(row, "time_kind");
        const std::string timeKind = kind == "modified"   ? " (изменение файла)"
                                     : kind == "recorded" ? " (запись Amcache)"
                                                          : "";
        table += "<tr" + rowClass + "><td class=\"time\">" + htmlEscape(textField(row, "time")) + timeKind +
                 "</td><td>" + htmlEscape(textField(row, "path")) + "</td><td>" + htmlEscape(textField(row, "source")) +
                 "</td><td>" + traceState(textField(row, "state")) +
                 (textField(row, "renamed_to").empty() ? "" : " → " + htmlEscape(textField(row, "renamed_to"))) +
                 "</td><td>" + htmlEscape(textField(row, matched ? "rule" : "threat")) +
                 (textField(row, "matched_file").empty()
                      ? ""
                      : " (загружен " + htmlEscape(textField(row, "matched_file")) + ")") +
                 "</td><td>" + traceMediumCaption(textField(row, "medium")) + "</td><td class=\"id\">" +
                 htmlEscape(traceDigest(row)) + "</td></tr>\n";
    }
    std::string line = "Следы запуска: " + std::to_string(rows.size()) + ", совпадений: " + std::to_string(matches);
    std::string list;
    const std::pair<const char *, const char *> lists[] = {{"signs", "<li class=\"bad\">"},
                                                           {"notices", "<li class=\"warn\">"},
                                                           {"unreadable", "<li>Нет прав на чтение: "},
                                                           {"not_read", "<li>Не прочитано: "},
                                                           {"parser_errors", "<li>Ответ библиотеки разбора: "}};
    for (const auto &[key, opening] : lists) {
        for (const nlohmann::json &item : arrayField(event, key))
            list +=
                std::string(opening) + htmlEscape(item.is_string() ? item.get<std::string>() : item.dump()) + "</li>";
    }
    if (!list.empty())
        line += "<ul>" + list + "</ul>";
    if (!rows.empty())
        line += "<table><tr><th>Время (UTC)</th><th>Программа</th><th>Источник</th><th>Состояние</th>"
                "<th>Правило</th><th>Носитель</th><th class=\"wide\">SHA-256</th></tr>\n" +
                table + "</table>";
    return line;
}

// A drivers check: its lines by level, then every driver row as the program recorded it.
std::string driversHtml(const nlohmann::json &event)
{
    const auto levelClass = [](const std::string &level) -> std::string {
        return level == "red" ? " class=\"bad\"" : level == "orange" ? " class=\"warn\"" : "";
    };
    std::string list;
    int red = 0;
    for (const nlohmann::json &line : arrayField(event, "lines")) {
        red += textField(line, "level") == "red" ? 1 : 0;
        list += "<li" + levelClass(textField(line, "level")) + ">" + htmlEscape(textField(line, "text")) + "</li>";
    }
    std::string table;
    const nlohmann::json &findings = arrayField(event, "findings");
    for (const nlohmann::json &row : findings) {
        const std::string state = driverStateCaption(textField(row, "state"));
        table += "<tr" + levelClass(textField(row, "level")) + "><td>" + htmlEscape(textField(row, "name")) +
                 "</td><td>" + htmlEscape(textField(row, "path")) + "</td><td>" + htmlEscape(textField(row, "signer")) +
                 "</td><td class=\"id wide\">" + htmlEscape(textField(row, "sha256")) + "</td><td>" +
                 htmlEscape(textField(row, "list")) + "</td><td>" + state + "</td></tr>\n";
    }
    std::string line = "Драйверы: " + std::to_string(findings.size()) + ", обнаружений: " + std::to_string(red);
    if (!list.empty())
        line += "<ul>" + list + "</ul>";
    if (!table.empty())
        line += "<table><tr><th>Драйвер</th><th>Путь</th><th>Подпись</th><th class=\"wide\">SHA-256</th>"
                "<th>Список</th><th>Состояние</th></tr>\n" +
                table + "</table>";
    return line;
}

std::string eventHtml(const nlohmann::json &event)
{
    const std::string type = textField(event, "type");
    std::string line;
    if (type == "scan") {
        const nlohmann::json &findings = arrayField(event, "findings");
        std::size_t detections = 0;
        for (const nlohmann::json &finding : findings)
            detections += textField(finding, "kind") == "unreadable" ? 0 : 1;
        line = "Сканирование, обнаружений: " + std::to_string(detections);
        if (!findings.empty()) {
            line += "<ul>";
            for (const nlohmann::json &finding : findings) {
                if (textField(finding, "kind") == "unreadable") {
                    line += "<li class=\"warn\">Не прочитано: " + htmlEscape(textField(finding, "target")) + " (" +
                            htmlEscape(textField(finding, "reason")) + ")</li>";
                } else if (textField(finding, "kind") == "signature" && finding.contains("error")) {
                    const std::string target = htmlEscape(scanTarget(finding));
                    line += textField(finding, "error") == "timeout"
                                ? "<li class=\"bad\">Не проверено за 10 с: " + target + "</li>"
                                : "<li class=\"bad\">Не прочитано: " + target + " (" +
                                      htmlEscape(textField(finding, "error")) + ")</li>";
                } else if (textField(finding, "kind") == "search_term") {
                    line += "<li class=\"warn\">Подозрительный запрос: " + htmlEscape(textField(finding, "term"));
                    if (!textField(finding, "browser").empty())
                        line += " (" +
                                htmlEscape(textField(finding, "browser") + ", " + textField(finding, "profile")) + ")";
                    line += "</li>";
                } else {
                    std::string target = htmlEscape(scanTarget(finding));
                    if (textField(finding, "kind") == "signature")
                        target += " [" + htmlEscape(textField(finding, "rule")) + "]";
                    line += std::string("<li class=\"") + (numberField(finding, "level") != 0 ? "bad" : "warn") +
                            "\">" + htmlEscape(textField(finding, "description")) + ": " + target + "</li>";
                }
            }
            line += "</ul>";
        }
    } else if (type == "account") {
        line = "Аккаунт: " + htmlEscape(textField(event, "persona_name")) + " ( " +
               htmlEscape(textField(event, "steam_id")) + " ) ";
        if (!flagField(event, "looked_up")) {
            line += "проверка не удалась";
        } else {
            const std::string bans = accountBans(event);
            line += bans.empty() ? "блокировок нет" : "<b class=\"bad\">" + bans + "</b>";
        }
    } else if (type == "utility") {
        line = "Запущена утилита: " + htmlEscape(textField(event, "program"));
    } else if (type == "folder") {
        line = "Открыта папка: " + htmlEscape(textField(event, "path"));
    } else if (type == "repair") {
        line = "Исправление (" + htmlEscape(textField(event, "action")) + "): ";
        std::string folders;
        if (event.contains("folders") && event["folders"].is_array()) {
            for (const nlohmann::json &folder : event["folders"])
                folders += (folders.empty() ? "" : ", ") +
                           htmlEscape(folder.is_string() ? folder.get<std::string>() : folder.dump());
        }
        line += folders.empty() ? "ничего не перемещено" : folders;
    } else if (type == "traces") {
        line = tracesHtml(event);
    } else if (type == "drivers") {
        line = driversHtml(event);
    } else if (type == "accounts") {
        line = "Аккаунты не проверены: " + htmlEscape(textField(event, "not_read"));
    } else if (type == "whole_check") {
        line = "Полная проверка: нарушения " + std::to_string(numberField(event, "violations")) +
               ", требует внимания " + std::to_string(numberField(event, "attention")) + ", не проверено " +
               std::to_string(numberField(event, "not_checked"));
        if (event.contains("cancelled_at"))
            line += "; отменена на шаге: " + htmlEscape(textField(event, "cancelled_at"));
    } else {
        line = htmlEscape(event.dump());
    }
    return "<tr><td class=\"time\">" + htmlEscape(textField(event, "time")) + "</td><td>" + line + "</td></tr>\n";
}
} // namespace

std::string htmlEscape(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

Report summarizeReport(const nlohmann::json &report)
{
    Report summary;
    summary.machine = textField(report, "machine");
    summary.user = textField(report, "user");
    std::set<std::string> banned;
    if (report.contains("events") && report["events"].is_array()) {
        for (const nlohmann::json &event : report["events"]) {
            const std::string type = textField(event, "type");
            if (type == "scan" && event.contains("findings") && event["findings"].is_array()) {
                summary.findings += static_cast<int>(event["findings"].size());
            } else if (type == "traces" && event.contains("rows") && event["rows"].is_array()) {
                for (const nlohmann::json &row : event["rows"])
                    summary.findings += row.is_object() && row.contains("rule") ? 1 : 0;
            } else if (type == "drivers" && event.contains("lines") && event["lines"].is_array()) {
                for (const nlohmann::json &line : event["lines"])
                    summary.findings += textField(line, "level") == "red" ? 1 : 0;
            }
            if (type == "account" &&
                (flagField(event, "vac") || flagField(event, "community") || numberField(event, "game_bans") > 0))
                banned.insert(textField(event, "steam_id"));
        }
    }
    summary.banned = static_cast<int>(banned.size());
    return summary;
}

bool adminCredentialsMatch(const std::string &authorization, const std::string &token)
{
    const std::string credentials = "admin:" + token;
    std::string encoded(4 * ((credentials.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&encoded[0]),
                                       reinterpret_cast<const unsigned char *>(credentials.data()),
                                       static_cast<int>(credentials.size()));
    encoded.resize(static_cast<std::size_t>(length));
    // Digests of equal length, so that neither the length nor the content leaks through the time taken.
    unsigned char expected[SHA256_DIGEST_LENGTH];
    unsigned char given[SHA256_DIGEST_LENGTH];
    // The scheme's name is matched without regard to case, as HTTP has it; the credentials exactly.
    std::string presented = authorization;
    if (presented.size() > 6 && presented[5] == ' ' && strncasecmp(presented.c_str(), "basic", 5) == 0)
        presented.replace(0, 5, "Basic");
    const std::string wanted = "Basic " + encoded;
    SHA256(reinterpret_cast<const unsigned char *>(wanted.data()), wanted.size(), expected);
    SHA256(reinterpret_cast<const unsigned char *>(presented.data()), presented.size(), given);
    return CRYPTO_memcmp(expected, given, SHA256_DIGEST_LENGTH) == 0;
}

std::string reportListPage(const std::vector<Report> &reports, int limit)
{
    std::string rows;
    for (const Report &report : reports) {
        rows += "<tr><td class=\"id\"><a href=\"/admin/reports/" + htmlEscape(report.id) + "\">" +
                htmlEscape(report.id) + "</a></td><td>" + htmlEscape(shortTime(report.received)) + "</td><td>" +
                htmlEscape(report.machine) + "</td><td class=\"wide\">" + htmlEscape(report.user) + "</td><td>" +
                std::to_string(report.findings) + "</td><td" + (report.banned > 0 ? " class=\"bad\"" : "") + ">" +
                std::to_string(report.banned) + "</td><td class=\"" +
                (report.linkHolds ? "ok\">цела" : "bad\">нарушена") + "</td></tr>\n";
    }
    return htmlPage("Отчёты о проверках",
                    "<h1>Отчёты о проверках</h1>\n<p>Последние " + std::to_string(limit) +
                        ", новые сверху.</p>\n<table>\n<tr><th>Код</th><th>Получен (UTC)</th><th>Компьютер</th>"
                        "<th class=\"wide\">Пользователь</th><th>Обнаружения</th><th>Аккаунты с банами</th>"
                        "<th>Цепочка</th></tr>\n" +
                        rows + "</table>\n");
}

std::string reportPage(const Report &report, const TimelineFilter &filter)
{
    // Stored before the intake refused such reports, or changed in the store: shown as far as it is
    // safe, never walked.
    const std::string fault = reportTextFault(report.body);
    if (!fault.empty())
        return htmlPage("Отчёт " + report.id,
                        "<p><a href=\"/admin/reports\">Все отчёты</a> · <a href=\"/admin/reports/" +
                            htmlEscape(report.id) + ".json\">JSON</a></p>\n<h1>Отчёт " + htmlEscape(report.id) +
                            "</h1>\n<p class=\"bad\">Отчёт не показан: " + htmlEscape(fault) + "</p>\n");
    const nlohmann::json body = nlohmann::json::parse(report.body, nullptr, false);
    std::string header;
    const std::pair<const char *, const char *> fields[] = {{"Компьютер", "machine"},
                                                            {"Пользователь", "user"},
                                                            {"Система", "os"},
                                                            {"Начало проверки (UTC)", "started"},
                                                            {"Версия программы", "program_version"},
                                                            {"Версия сервера", "server_version"},
                                                            {"Папка игры", "game_folder"},
                                                            {"Папка Steam", "steam_folder"}};
    header += "<tr><th>Код</th><td>" + htmlEscape(report.id) + "</td></tr>\n<tr><th>Получен (UTC)</th><td>" +
              htmlEscape(report.received) + "</td></tr>\n<tr><th>SHA-256</th><td>" + htmlEscape(report.sha256) +
              "</td></tr>\n";
    for (const auto &field : fields)
        header += std::string("<tr><th>") + field.first + "</th><td>" + htmlEscape(textField(body, field.second)) +
                  "</td></tr>\n";
    const ReportResult result = readReportResult(body);
    std::string events;
    if (body.is_object() && body.contains("events") && body["events"].is_array()) {
        for (const nlohmann::json &event : body["events"])
            events += eventHtml(event);
    }
    return htmlPage("Отчёт " + report.id,
                    "<p><a href=\"/admin/reports\">Все отчёты</a> · <a href=\"/admin/reports/" + htmlEscape(report.id) +
                        ".json\">JSON</a></p>\n<h1>Отчёт " + htmlEscape(report.id) + "</h1>\n" + findingsHtml(result) +
                        "<h2>Отчёт</h2>\n<table>\n" + header + "</table>\n" + timelineHtml(result, report.id, filter) +
                        "<h2>Ход проверки</h2>\n<table>\n" + events +
                        "</table>\n<h2>Комментарий проверяющего</h2>\n<pre>" + htmlEscape(textField(body, "note")) +
                        "</pre>\n");
}
