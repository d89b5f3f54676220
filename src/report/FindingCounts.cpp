#include "report/FindingCounts.h"

#include <QJsonObject>

namespace {
using Kind = FindingCounts::Kind;

// A finding's colour by its level: 0 asks for attention, any other is a violation.
Kind byLevel(const QJsonObject &object)
{
    return object.value(QStringLiteral("level")).toInt() != 0 ? FindingCounts::Violations : FindingCounts::Attention;
}

void countScan(const QJsonObject &event, FindingCounts &counts)
{
    const QString type = QStringLiteral("scan");
    for (const QJsonValue &value : event.value(QStringLiteral("findings")).toArray()) {
        const QJsonObject finding = value.toObject();
        const QString kind = finding.value(QStringLiteral("kind")).toString();
        if (kind == QLatin1String("unreadable") ||
            (kind == QLatin1String("signature") && finding.contains(QStringLiteral("error"))))
            counts.add(FindingCounts::NotChecked, type);
        else if (kind == QLatin1String("search_term"))
            counts.add(FindingCounts::Attention, type);
        else
            counts.add(byLevel(finding), type);
    }
}

void countTraces(const QJsonObject &event, FindingCounts &counts)
{
    const QString type = QStringLiteral("traces");
    for (const QJsonValue &value : event.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject row = value.toObject();
        if (row.contains(QStringLiteral("rule")))
            counts.add(byLevel(row), type);
    }
    const std::pair<const char *, Kind> lists[] = {{"signs", FindingCounts::Violations},
                                                   {"notices", FindingCounts::Attention},
                                                   {"unreadable", FindingCounts::NotChecked},
                                                   {"not_read", FindingCounts::NotChecked}};
    for (const auto &list : lists) {
        const int size = event.value(QLatin1String(list.first)).toArray().size();
        if (size > 0)
            counts.add(list.second, type, size);
    }
}

void countDrivers(const QJsonObject &event, FindingCounts &counts)
{
    const QString type = QStringLiteral("drivers");
    for (const QJsonValue &value : event.value(QStringLiteral("lines")).toArray()) {
        const QString level = value.toObject().value(QStringLiteral("level")).toString();
        if (level == QLatin1String("red"))
            counts.add(FindingCounts::Violations, type);
        else if (level == QLatin1String("orange"))
            counts.add(FindingCounts::Attention, type);
        else if (level == QLatin1String("not_read"))
            counts.add(FindingCounts::NotChecked, type);
    }
}

void countAccount(const QJsonObject &event, FindingCounts &counts)
{
    const QString type = QStringLiteral("account");
    if (event.value(QStringLiteral("type")).toString() == QLatin1String("accounts") ||
        !event.value(QStringLiteral("looked_up")).toBool(true))
        counts.add(FindingCounts::NotChecked, type);
    else if (event.value(QStringLiteral("vac")).toBool() || event.value(QStringLiteral("community")).toBool() ||
             event.value(QStringLiteral("game_bans")).toInt() > 0)
        counts.add(FindingCounts::Violations, type);
}
} // namespace

void FindingCounts::add(Kind kind, const QString &type, int count)
{
    total[kind] += count;
    for (Part &part : parts[kind]) {
        if (part.type == type) {
            part.count += count;
            return;
        }
    }
    parts[kind].append({type, count});
}

FindingCounts countFindings(const QJsonArray &events)
{
    const std::pair<const char *, void (*)(const QJsonObject &, FindingCounts &)> counters[] = {
        {"scan", countScan},
        {"traces", countTraces},
        {"drivers", countDrivers},
        {"account", countAccount},
        {"accounts", countAccount}};
    FindingCounts counts;
    for (const QJsonValue &value : events) {
        const QJsonObject event = value.toObject();
        const QString type = event.value(QStringLiteral("type")).toString();
        for (const auto &counter : counters) {
            if (type == QLatin1String(counter.first))
                counter.second(event, counts);
        }
    }
    return counts;
}
