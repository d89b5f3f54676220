#include "report/CheckRecord.h"

#include "drivers/DriverTypes.h"
#include "platform/Session.h"
#include "report/DriversRecord.h"
#include "rules/Signatures.h"
#include "traces/ExecutionTraces.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>

namespace {
QString utcNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QString escaped(const QJsonValue &value)
{
    return value.toString().toHtmlEscaped();
}

QString tableRow(const QString &caption, const QJsonValue &value)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(caption.toHtmlEscaped(), escaped(value));
}

// Matched trace rows a summary shows at most; the saved and sent report has them all.
constexpr int kSummaryRows = 100;

QString findingHtml(const QJsonObject &finding)
{
    const QString kind = finding.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("unreadable"))
        return QStringLiteral("<li class=\"warn\">%1</li>")
            .arg(QObject::tr("Не прочитано: %1 (%2)")
                     .arg(finding.value(QStringLiteral("target")).toString(),
                          finding.value(QStringLiteral("reason")).toString())
                     .toHtmlEscaped());
    if (kind == QLatin1String("signature") && finding.contains(QStringLiteral("error"))) {
        SignatureProblem problem;
        const QString error = finding.value(QStringLiteral("error")).toString();
        problem.kind = error == QLatin1String("timeout") ? SignatureProblem::TimedOut : SignatureProblem::MemoryNotRead;
        problem.target = finding.value(QStringLiteral("target")).toString();
        problem.reason = error;
        if (finding.contains(QStringLiteral("pid")))
            problem.pid = static_cast<qint64>(finding.value(QStringLiteral("pid")).toDouble());
        return QStringLiteral("<li class=\"bad\">%1</li>").arg(signatureProblemText(problem).toHtmlEscaped());
    }
    if (kind == QLatin1String("search_term")) {
        QString line = QObject::tr("Подозрительный запрос: ") + escaped(finding.value(QStringLiteral("term")));
        const QString browser = finding.value(QStringLiteral("browser")).toString();
        if (!browser.isEmpty())
            line +=
                QStringLiteral(" (") +
                (browser + QStringLiteral(", ") + finding.value(QStringLiteral("profile")).toString()).toHtmlEscaped() +
                QLatin1Char(')');
        return QStringLiteral("<li class=\"warn\">%1</li>").arg(line);
    }
    const int level = finding.value(QStringLiteral("level")).toInt();
    QString target = escaped(finding.value(QStringLiteral("target")));
    if (finding.value(QStringLiteral("kind")).toString() == QLatin1String("signature")) {
        SignatureMatch match;
        match.rule = finding.value(QStringLiteral("rule")).toString();
        match.target = finding.value(QStringLiteral("target")).toString();
        if (finding.contains(QStringLiteral("pid")))
            match.pid = static_cast<qint64>(finding.value(QStringLiteral("pid")).toDouble());
        target = signatureHitText(match).toHtmlEscaped();
    }
    return QStringLiteral("<li class=\"%1\">%2: %3</li>")
        .arg(level != 0 ? QStringLiteral("bad") : QStringLiteral("warn"),
             escaped(finding.value(QStringLiteral("description"))), target);
}

// A collection of execution traces: its signs, the sources it could not read, then every row (the
// record keeps the matches first), or in a summary the first matched ones.
QString tracesHtml(const QJsonObject &event, ReportDetail detail)
{
    const bool summary = detail == ReportDetail::Summary;
    const QJsonArray rows = event.value(QStringLiteral("rows")).toArray();
    int matches = 0;
    QString table;
    QString shown; // a summary's matches, as a list: a table in a table costs the screen a millisecond a row
    for (const QJsonValue &value : rows) {
        const QJsonObject row = value.toObject();
        const bool matched = row.contains(QStringLiteral("rule"));
        if (summary && !matched)
            break;
        matches += matched ? 1 : 0;
        const QString rowClass =
            !matched ? QString()
                     : (row.value(QStringLiteral("level")).toInt() != 0 ? QStringLiteral(" class=\"bad\"")
                                                                        : QStringLiteral(" class=\"warn\""));
        const QString renamedTo = row.value(QStringLiteral("renamed_to")).toString();
        const QString state = traceStateText(traceStateFromName(row.value(QStringLiteral("state")).toString())) +
                              (renamedTo.isEmpty() ? QString() : QStringLiteral(" → ") + renamedTo.toHtmlEscaped());
        const QString medium = traceMediumText(traceMediumFromName(row.value(QStringLiteral("medium")).toString()));
        const QString matchedFile = row.value(QStringLiteral("matched_file")).toString();
        // A cache's file time and Amcache's record are marked, so that nobody reads them as runs.
        const QString time =
            escaped(row.value(QStringLiteral("time"))) +
            traceTimeKindCaption(traceTimeKindFromName(row.value(QStringLiteral("time_kind")).toString()));
        const QString rule =
            (matched ? escaped(row.value(QStringLiteral("rule"))) : escaped(row.value(QStringLiteral("threat")))) +
            (matchedFile.isEmpty() ? QString() : QObject::tr(" (загружен %1)").arg(matchedFile.toHtmlEscaped()));
        if (summary && matches <= kSummaryRows)
            shown += QStringLiteral("<li%1>%2 %3 (%4, %5): %6</li>")
                         .arg(rowClass, time, escaped(row.value(QStringLiteral("path"))),
                              escaped(row.value(QStringLiteral("source"))), state, rule);
        else if (!summary)
            table += QStringLiteral("<tr%1><td class=\"time\">%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                                    "<td>%7</td><td class=\"hash\">%8</td></tr>\n")
                         .arg(rowClass, time, escaped(row.value(QStringLiteral("path"))),
                              escaped(row.value(QStringLiteral("source"))), state, rule, medium,
                              row.value(QStringLiteral("sha256")).toString().isEmpty() &&
                                      !row.value(QStringLiteral("sha1")).toString().isEmpty()
                                  ? QStringLiteral("SHA-1 ") + escaped(row.value(QStringLiteral("sha1")))
                                  : escaped(row.value(QStringLiteral("sha256"))));
    }
    QString text = QObject::tr("Следы запуска: %1, совпадений: %2").arg(rows.size()).arg(matches);
    if (summary && rows.size() > std::min(matches, kSummaryRows))
        text += QStringLiteral(" (%1)").arg(
            QObject::tr("на экране не больше %1 совпадений; все строки — в сохранённом и отправленном отчёте")
                .arg(kSummaryRows));
    QString list;
    for (const QJsonValue &sign : event.value(QStringLiteral("signs")).toArray())
        list += QStringLiteral("<li class=\"bad\">%1</li>").arg(escaped(sign));
    for (const QJsonValue &notice : event.value(QStringLiteral("notices")).toArray())
        list += QStringLiteral("<li class=\"warn\">%1</li>").arg(escaped(notice));
    for (const QJsonValue &source : event.value(QStringLiteral("unreadable")).toArray())
        list += QStringLiteral("<li>%1%2</li>").arg(QObject::tr("Нет прав на чтение: "), escaped(source));
    for (const QJsonValue &source : event.value(QStringLiteral("not_read")).toArray())
        list += QStringLiteral("<li>%1%2</li>").arg(QObject::tr("Не прочитано: "), escaped(source));
    if (!summary) {
        for (const QJsonValue &error : event.value(QStringLiteral("parser_errors")).toArray())
            list += QStringLiteral("<li>%1%2</li>").arg(QObject::tr("Ответ библиотеки разбора: "), escaped(error));
    }
    if (!list.isEmpty())
        text += QStringLiteral("<ul>%1</ul>").arg(list);
    if (!shown.isEmpty())
        text += QStringLiteral("<ul>%1</ul>").arg(shown);
    if (!table.isEmpty())
        text += QStringLiteral("<table class=\"traces\"><tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th><th>%5</th>"
                               "<th>%6</th><th>SHA-256</th></tr>\n%7</table>")
                    .arg(QObject::tr("Время (UTC)"), QObject::tr("Программа"), QObject::tr("Источник"),
                         QObject::tr("Состояние"), QObject::tr("Правило"), QObject::tr("Носитель"), table);
    return text;
}

QString eventHtml(const QJsonObject &event, ReportDetail detail)
{
    const QString type = event.value(QStringLiteral("type")).toString();
    QString text;
    if (type == QLatin1String("scan")) {
        const QJsonArray findings = event.value(QStringLiteral("findings")).toArray();
        // What could not be read is listed, but it is no detection.
        const auto detections = std::count_if(findings.begin(), findings.end(), [](const QJsonValue &finding) {
            return finding.toObject().value(QStringLiteral("kind")).toString() != QLatin1String("unreadable");
        });
        text = QObject::tr("Сканирование, обнаружений: %1").arg(detections);
        if (!findings.isEmpty()) {
            text += QStringLiteral("<ul>");
            for (const QJsonValue &finding : findings)
                text += findingHtml(finding.toObject());
            text += QStringLiteral("</ul>");
        }
    } else if (type == QLatin1String("account")) {
        text = QObject::tr("Аккаунт: ") + escaped(event.value(QStringLiteral("persona_name"))) + QStringLiteral(" ( ") +
               escaped(event.value(QStringLiteral("steam_id"))) + QStringLiteral(" ) ");
        if (!event.value(QStringLiteral("looked_up")).toBool()) {
            text += QObject::tr("проверка не удалась");
        } else {
            QString bans =
                QString(event.value(QStringLiteral("vac")).toBool() ? QStringLiteral("[VAC]") : QString()) +
                (event.value(QStringLiteral("community")).toBool() ? QStringLiteral("[COMMUNITY]") : QString());
            const int gameBans = event.value(QStringLiteral("game_bans")).toInt();
            if (gameBans > 0)
                bans += QStringLiteral("[GAME BANS: %1]").arg(gameBans);
            text +=
                bans.isEmpty() ? QObject::tr("блокировок нет") : QStringLiteral("<b class=\"bad\">%1</b>").arg(bans);
        }
    } else if (type == QLatin1String("accounts")) {
        text = QObject::tr("Аккаунты не проверены: ") + escaped(event.value(QStringLiteral("not_read")));
    } else if (type == QLatin1String("whole_check")) {
        text = QObject::tr("Полная проверка: нарушения %1, требует внимания %2, не проверено %3")
                   .arg(event.value(QStringLiteral("violations")).toInt())
                   .arg(event.value(QStringLiteral("attention")).toInt())
                   .arg(event.value(QStringLiteral("not_checked")).toInt());
        if (event.contains(QStringLiteral("cancelled_at")))
            text += QObject::tr("; отменена на шаге: ") + escaped(event.value(QStringLiteral("cancelled_at")));
    } else if (type == QLatin1String("utility")) {
        text = QObject::tr("Запущена утилита: ") + escaped(event.value(QStringLiteral("program")));
    } else if (type == QLatin1String("folder")) {
        text = QObject::tr("Открыта папка: ") + escaped(event.value(QStringLiteral("path")));
    } else if (type == QLatin1String("repair")) {
        QStringList folders;
        for (const QJsonValue &folder : event.value(QStringLiteral("folders")).toArray())
            folders.append(folder.toString().toHtmlEscaped());
        text = QObject::tr("Исправление (%1): ").arg(escaped(event.value(QStringLiteral("action")))) +
               (folders.isEmpty() ? QObject::tr("ничего не перемещено") : folders.join(QStringLiteral(", ")));
    } else if (type == QLatin1String("traces")) {
        text = tracesHtml(event, detail);
    } else if (type == QLatin1String("drivers")) {
        text = driversHtml(event, detail == ReportDetail::Summary, kSummaryRows);
    } else {
        text = escaped(type);
    }
    return QStringLiteral("<tr><td class=\"time\">%1</td><td>%2</td></tr>\n")
        .arg(escaped(event.value(QStringLiteral("time"))), text);
}
} // namespace

CheckRecord::CheckRecord(CheckContext context, QObject *parent)
    : QObject(parent), context(std::move(context)), machine(QSysInfo::machineHostName()), user(platform::userName()),
      system(QSysInfo::prettyProductName()), started(QDateTime::currentDateTimeUtc())
{
}

QJsonArray CheckRecord::eventsSince(int first) const
{
    QJsonArray since;
    for (int i = std::max(first, 0); i < events.size(); ++i)
        since.append(events.at(i));
    return since;
}

QJsonObject CheckRecord::toJson(const QString &note) const
{
    return QJsonObject{{QStringLiteral("format"), QString::fromLatin1(kFormat)},
                       {QStringLiteral("program_version"), context.programVersion},
                       {QStringLiteral("server_version"), context.serverVersion},
                       {QStringLiteral("machine"), machine},
                       {QStringLiteral("user"), user},
                       {QStringLiteral("os"), system},
                       {QStringLiteral("started"), started.toString(Qt::ISODate)},
                       {QStringLiteral("game_folder"), context.gameFolder},
                       {QStringLiteral("steam_folder"), context.steamFolder},
                       {QStringLiteral("events"), events},
                       {QStringLiteral("note"), note}};
}

void CheckRecord::append(const QString &type, QJsonObject event)
{
    event.insert(QStringLiteral("type"), type);
    if (!event.contains(QStringLiteral("time")))
        event.insert(QStringLiteral("time"), utcNow());
    events.append(event);
    emit changed();
}

void CheckRecord::scanStarted()
{
    scanTime = utcNow();
    scanFindings = QJsonArray();
}

// Findings gather in their own array: copying it into the scan's object at each one would cost
// time growing with the square of their number.
void CheckRecord::ruleMatched(int level, const QString &description, const QString &target)
{
    scanFindings.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("rule")},
                                    {QStringLiteral("level"), level},
                                    {QStringLiteral("description"), description},
                                    {QStringLiteral("target"), target}});
}

void CheckRecord::suspiciousTermFound(const QString &term, const QString &browser, const QString &profile)
{
    scanFindings.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("search_term")},
                                    {QStringLiteral("term"), term},
                                    {QStringLiteral("browser"), browser},
                                    {QStringLiteral("profile"), profile}});
}

void CheckRecord::signatureMatched(int level, const QString &description, const QString &rule, const QString &target,
                                   qint64 pid)
{
    QJsonObject finding{{QStringLiteral("kind"), QStringLiteral("signature")},
                        {QStringLiteral("level"), level},
                        {QStringLiteral("description"), description},
                        {QStringLiteral("rule"), rule},
                        {QStringLiteral("target"), target}};
    if (pid >= 0)
        finding.insert(QStringLiteral("pid"), pid);
    scanFindings.append(finding);
}

void CheckRecord::signatureFailed(const QString &target, qint64 pid, const QString &error)
{
    QJsonObject finding{{QStringLiteral("kind"), QStringLiteral("signature")},
                        {QStringLiteral("level"), 1},
                        {QStringLiteral("error"), error},
                        {QStringLiteral("target"), target}};
    if (pid >= 0)
        finding.insert(QStringLiteral("pid"), pid);
    scanFindings.append(finding);
}

void CheckRecord::windowHidden(const QString &title, const QString &image, qint64 pid, const QString &target)
{
    // Shown by the pages as any red finding: its caption, then what it names.
    scanFindings.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("hidden_window")},
                                    {QStringLiteral("level"), 1},
                                    {QStringLiteral("description"), tr("Окно скрыто от записи экрана")},
                                    {QStringLiteral("target"), target},
                                    {QStringLiteral("title"), title},
                                    {QStringLiteral("image"), image},
                                    {QStringLiteral("pid"), pid}});
}

void CheckRecord::notRead(const QString &target, const QString &reason)
{
    scanFindings.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("unreadable")},
                                    {QStringLiteral("target"), target},
                                    {QStringLiteral("reason"), reason}});
}

void CheckRecord::scanFinished()
{
    if (scanTime.isEmpty())
        scanTime = utcNow();
    append(QStringLiteral("scan"),
           QJsonObject{{QStringLiteral("time"), scanTime}, {QStringLiteral("findings"), scanFindings}});
    scanTime.clear();
    scanFindings = QJsonArray();
}

void CheckRecord::accountChecked(const QString &steamId, const QString &personaName, bool lookedUp, bool vac,
                                 bool community, int gameBans)
{
    append(QStringLiteral("account"), QJsonObject{{QStringLiteral("steam_id"), steamId},
                                                  {QStringLiteral("persona_name"), personaName},
                                                  {QStringLiteral("looked_up"), lookedUp},
                                                  {QStringLiteral("vac"), vac},
                                                  {QStringLiteral("community"), community},
                                                  {QStringLiteral("game_bans"), gameBans}});
}

void CheckRecord::accountsNotRead(const QString &reason)
{
    append(QStringLiteral("accounts"), QJsonObject{{QStringLiteral("not_read"), reason}});
}

void CheckRecord::wholeCheckFinished(const QStringList &steps, const QString &cancelledAt, int violations,
                                     int attention, int notChecked)
{
    QJsonObject event{{QStringLiteral("steps"), QJsonArray::fromStringList(steps)},
                      {QStringLiteral("violations"), violations},
                      {QStringLiteral("attention"), attention},
                      {QStringLiteral("not_checked"), notChecked}};
    if (!cancelledAt.isEmpty())
        event.insert(QStringLiteral("cancelled_at"), cancelledAt);
    append(QStringLiteral("whole_check"), event);
}

void CheckRecord::utilityStarted(const QString &program)
{
    append(QStringLiteral("utility"), QJsonObject{{QStringLiteral("program"), program}});
}

void CheckRecord::folderOpened(const QString &path)
{
    append(QStringLiteral("folder"), QJsonObject{{QStringLiteral("path"), path}});
}

void CheckRecord::repaired(const QString &action, const QStringList &folders)
{
    append(QStringLiteral("repair"), QJsonObject{{QStringLiteral("action"), action},
                                                 {QStringLiteral("folders"), QJsonArray::fromStringList(folders)}});
}

void CheckRecord::tracesCollected(const TraceCollection &collection)
{
    QJsonArray matched;
    QJsonArray others;
    for (const TraceRow &row : collection.rows) {
        QJsonObject object{{QStringLiteral("time"),
                            row.time.isValid() ? QJsonValue(row.time.toUTC().toString(Qt::ISODate)) : QJsonValue()},
                           {QStringLiteral("path"), row.path},
                           {QStringLiteral("source"), row.source},
                           {QStringLiteral("state"), traceStateName(row.state)},
                           {QStringLiteral("sha256"), row.sha256}};
        if (row.runCount > 0)
            object.insert(QStringLiteral("run_count"), row.runCount);
        QJsonArray earlier;
        for (const QDateTime &time : row.earlierRuns)
            earlier.append(time.toUTC().toString(Qt::ISODate));
        if (!earlier.isEmpty())
            object.insert(QStringLiteral("earlier_runs"), earlier);
        if (!row.matchedFile.isEmpty())
            object.insert(QStringLiteral("matched_file"), row.matchedFile);
        if (!row.renamedTo.isEmpty())
            object.insert(QStringLiteral("renamed_to"), row.renamedTo);
        if (row.medium != TraceMedium::Fixed)
            object.insert(QStringLiteral("medium"), traceMediumName(row.medium));
        // A cache's file time is no run: whoever reads the report must be able to tell.
        if (row.timeKind != TraceTimeKind::Run)
            object.insert(QStringLiteral("time_kind"), traceTimeKindName(row.timeKind));
        if (!row.sha1.isEmpty())
            object.insert(QStringLiteral("sha1"), row.sha1);
        if (row.recordedSize >= 0)
            object.insert(QStringLiteral("recorded_size"), row.recordedSize);
        if (!row.recordedFacts.isEmpty())
            object.insert(QStringLiteral("recorded"), QJsonArray::fromStringList(row.recordedFacts));
        if (row.cachePosition >= 0)
            object.insert(QStringLiteral("cache_position"), row.cachePosition);
        QJsonArray deviceTimes;
        for (const QDateTime &time : row.deviceTimes)
            deviceTimes.append(time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue());
        if (!deviceTimes.isEmpty())
            object.insert(QStringLiteral("device_times"), deviceTimes);
        if (!row.threat.isEmpty())
            object.insert(QStringLiteral("threat"), row.threat);
        if (row.matched) {
            object.insert(QStringLiteral("rule"), row.ruleDescription);
            object.insert(QStringLiteral("level"), row.ruleLevel);
            matched.append(object);
        } else {
            others.append(object);
        }
    }
    for (const QJsonValue &row : qAsConst(others))
        matched.append(row);
    QJsonObject traces{{QStringLiteral("time"), collection.collected.toString(Qt::ISODate)},
                       {QStringLiteral("signs"), QJsonArray::fromStringList(collection.signs)},
                       {QStringLiteral("notices"), QJsonArray::fromStringList(collection.notices)},
                       {QStringLiteral("unreadable"), QJsonArray::fromStringList(collection.unreadable)},
                       {QStringLiteral("not_read"), QJsonArray::fromStringList(collection.notRead)},
                       {QStringLiteral("rows"), matched}};
    // The parsing libraries' own words stay with the report for whoever has to explain a reason.
    if (!collection.parserErrors.isEmpty())
        traces.insert(QStringLiteral("parser_errors"), QJsonArray::fromStringList(collection.parserErrors));
    append(QStringLiteral("traces"), traces);
}

void CheckRecord::driversChecked(const DriverCheck &check)
{
    append(QStringLiteral("drivers"), driversEvent(check));
}

QString renderReportHtml(const QJsonObject &report, ReportDetail detail)
{
    QString events;
    for (const QJsonValue &event : report.value(QStringLiteral("events")).toArray())
        events += eventHtml(event.toObject(), detail);
    const QString note = report.value(QStringLiteral("note")).toString();
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<title>%1</title>\n<style>\n"
                          "body { background: #232629; color: #eff0f1; font-family: sans-serif; margin: 1em; }\n"
                          "table { border-collapse: collapse; width: 100%; }\n"
                          "th, td { text-align: left; vertical-align: top; padding: 0.2em 0.6em; "
                          "border-bottom: 1px solid #4d4d4d; overflow-wrap: anywhere; }\n"
                          "th { color: #3daee9; font-weight: normal; white-space: nowrap; }\n"
                          ".time { white-space: nowrap; color: #bdc3c7; }\n"
                          ".bad { color: #ff5050; } .warn { color: orange; }\n"
                          "table.traces td, table.traces th { font-size: 0.9em; } .hash { font-family: monospace; }\n"
                          "pre { white-space: pre-wrap; }\n"
                          "</style></head><body>\n<h1>%1</h1>\n<table>\n%2</table>\n<h2>%3</h2>\n<table>\n%4</table>\n"
                          "<h2>%5</h2>\n<pre>%6</pre>\n</body></html>\n")
        .arg(QObject::tr("Отчёт о проверке"),
             tableRow(QObject::tr("Компьютер"), report.value(QStringLiteral("machine"))) +
                 tableRow(QObject::tr("Пользователь"), report.value(QStringLiteral("user"))) +
                 tableRow(QObject::tr("Система"), report.value(QStringLiteral("os"))) +
                 tableRow(QObject::tr("Начало проверки (UTC)"), report.value(QStringLiteral("started"))) +
                 tableRow(QObject::tr("Версия программы"), report.value(QStringLiteral("program_version"))) +
                 tableRow(QObject::tr("Версия сервера"), report.value(QStringLiteral("server_version"))) +
                 tableRow(QObject::tr("Папка игры"), report.value(QStringLiteral("game_folder"))) +
                 tableRow(QObject::tr("Папка Steam"), report.value(QStringLiteral("steam_folder"))),
             QObject::tr("Ход проверки"), events, QObject::tr("Комментарий проверяющего"), note.toHtmlEscaped());
}

QString defaultReportFileName(const QString &machine, const QDateTime &time)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9_-]"));
    return QStringLiteral("vigilor-report-%1-%2.html")
        .arg(QString(machine).replace(unsafe, QStringLiteral("_")),
             time.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}
