#include "report/DriversRecord.h"

#include "drivers/DriverTypes.h"

#include <QJsonArray>
#include <QObject>

namespace {
QString escapedField(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString().toHtmlEscaped();
}

QString lineClass(const QString &level)
{
    if (level == QLatin1String("red"))
        return QStringLiteral(" class=\"bad\"");
    if (level == QLatin1String("orange"))
        return QStringLiteral(" class=\"warn\"");
    return QString();
}
} // namespace

QJsonObject driversEvent(const DriverCheck &check)
{
    QJsonArray lines;
    for (const DriverLine &line : check.lines)
        lines.append(
            QJsonObject{{QStringLiteral("level"), lineLevelName(line.level)}, {QStringLiteral("text"), line.text}});
    QJsonArray findings;
    for (const DriverRow &row : check.rows) {
        QJsonObject finding{{QStringLiteral("kind"), QStringLiteral("driver")},
                            {QStringLiteral("name"), row.name},
                            {QStringLiteral("path"), row.path},
                            {QStringLiteral("recorded_path"), row.recordedPath},
                            {QStringLiteral("state"), driverStateName(row.state)},
                            {QStringLiteral("signature"), signatureName(row.signature)},
                            {QStringLiteral("signer"), row.signer},
                            {QStringLiteral("sha256"), row.sha256},
                            {QStringLiteral("sha1"), row.sha1},
                            {QStringLiteral("authenticode_sha256"), row.authenticode}};
        const std::pair<const char *, const QString *> optional[] = {{"service", &row.service},
                                                                     {"signature_reason", &row.signatureReason},
                                                                     {"list", &row.listEntry},
                                                                     {"category", &row.listCategory},
                                                                     {"read_problem", &row.readProblem}};
        for (const auto &[key, value] : optional) {
            if (!value->isEmpty())
                finding.insert(QLatin1String(key), *value);
        }
        if (row.listedByName)
            finding.insert(QStringLiteral("listed_by_name"), true);
        if (row.red || row.orange)
            finding.insert(QStringLiteral("level"), row.red ? QStringLiteral("red") : QStringLiteral("orange"));
        findings.append(finding);
    }
    return {{QStringLiteral("time"), check.checked.toUTC().toString(Qt::ISODate)},
            {QStringLiteral("lines"), lines},
            {QStringLiteral("findings"), findings}};
}

QString driversHtml(const QJsonObject &event, bool summary, int summaryRows)
{
    const QJsonArray findings = event.value(QStringLiteral("findings")).toArray();
    QString list;
    int red = 0;
    for (const QJsonValue &value : event.value(QStringLiteral("lines")).toArray()) {
        const QJsonObject line = value.toObject();
        const QString level = line.value(QStringLiteral("level")).toString();
        red += level == QLatin1String("red") ? 1 : 0;
        list += QStringLiteral("<li%1>%2</li>").arg(lineClass(level), escapedField(line, "text"));
    }
    QString table;
    int shown = 0;
    for (const QJsonValue &value : findings) {
        const QJsonObject row = value.toObject();
        const QString level = row.value(QStringLiteral("level")).toString();
        if (summary && (level.isEmpty() || ++shown > summaryRows))
            continue;
        const QString listEntry =
            escapedField(row, "list") +
            (row.value(QStringLiteral("listed_by_name")).toBool() ? QObject::tr(" (по имени)") : QString());
        table +=
            QStringLiteral("<tr%1><td>%2</td><td>%3</td><td>%4</td><td class=\"hash\">%5</td><td>%6</td>"
                           "<td>%7</td></tr>\n")
                .arg(lineClass(level), escapedField(row, "name"), escapedField(row, "path"),
                     escapedField(row, "signer"), escapedField(row, "sha256"), listEntry, escapedField(row, "state"));
    }
    QString text = QObject::tr("Драйверы: %1, обнаружений: %2").arg(findings.size()).arg(red);
    if (!list.isEmpty())
        text += QStringLiteral("<ul>%1</ul>").arg(list);
    if (!table.isEmpty())
        text += QStringLiteral("<table class=\"traces\"><tr><th>%1</th><th>%2</th><th>%3</th><th>SHA-256</th>"
                               "<th>%4</th><th>%5</th></tr>\n%6</table>")
                    .arg(QObject::tr("Драйвер"), QObject::tr("Путь"), QObject::tr("Подпись"), QObject::tr("Список"),
                         QObject::tr("Состояние"), table);
    return text;
}
