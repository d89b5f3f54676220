#include "rules/DetectionRule.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {
// A whole number within the signed 32-bit range, or 0.
qint32 levelFrom(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(number);
}
} // namespace

DetectionRule DetectionRule::fromJson(const QJsonObject &object)
{
    DetectionRule rule;
    rule.desc = object.value(QStringLiteral("desc")).toString();
    const QJsonArray roots = object.value(QStringLiteral("roots")).toArray();
    for (const QJsonValue &root : roots)
        rule.roots.append(root.toString());
    rule.filename = object.value(QStringLiteral("filename")).toString();
    rule.level = levelFrom(object.value(QStringLiteral("level")));
    const QJsonValue registry = object.value(QStringLiteral("registry"));
    rule.registry = registry.isBool() && registry.toBool();
    const QJsonValue traces = object.value(QStringLiteral("traces"));
    rule.traces = traces.isBool() && traces.toBool();
    // A digest of another length or with other characters could never match; it is left out.
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    static const QRegularExpression sha1(QStringLiteral("^[0-9a-f]{40}$"));
    const std::pair<const char *, std::pair<const QRegularExpression *, QStringList *>> lists[] = {
        {"sha256", {&sha256, &rule.sha256}}, {"sha1", {&sha1, &rule.sha1}}};
    for (const auto &list : lists) {
        for (const QJsonValue &value : object.value(QLatin1String(list.first)).toArray()) {
            const QString hex = value.toString().toLower();
            if (list.second.first->match(hex).hasMatch())
                list.second.second->append(hex);
        }
    }
    return rule;
}
