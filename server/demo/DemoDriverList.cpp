// Converts the public list of vulnerable and malicious drivers (its CSV export) into the content
// server's driver list document:
//   {"ok": true, "data": {"source": …, "drivers": [{"name", "names", "category", "sha256", "sha1",
//    "authenticode_sha256"}, …]}}
// Run: vigilor-demo-driver-list OUT_JSON DRIVERS_CSV...

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {
// The CSV's records: fields separated by commas, quoted fields may hold commas, newlines and "".
QVector<QStringList> csvRecords(const QString &text)
{
    QVector<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            fields.append(field);
            records.append(fields);
            fields.clear();
            field.clear();
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        records.append(fields << field);
    return records;
}

QJsonArray listOf(const QString &cell)
{
    QJsonArray items;
    for (const QString &item : cell.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed().toLower());
    }
    return items;
}
bool addDrivers(const QString &path, QJsonArray &drivers)
{
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << input.fileName() << ": " << input.errorString() << "\n";
        return false;
    }
    const QVector<QStringList> records = csvRecords(QString::fromUtf8(input.readAll()));
    if (records.isEmpty())
        return false;
    const QStringList header = records.first();
    const auto column = [&header](const char *name) { return header.indexOf(QLatin1String(name)); };
    const int category = column("Category"), tags = column("Tags"), sha256 = column("KnownVulnerableSamples_SHA256"),
              sha1 = column("KnownVulnerableSamples_SHA1"),
              authenticode = column("KnownVulnerableSamples_Authentihash_SHA256");
    if (category < 0 || tags < 0 || sha256 < 0 || sha1 < 0 || authenticode < 0) {
        QTextStream(stderr) << path << ": the CSV lacks a column this needs\n";
        return false;
    }
    for (const QStringList &record : records.mid(1)) {
        if (record.size() != header.size())
            continue;
        QJsonArray names;
        for (const QString &tag : record.at(tags).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!tag.trimmed().isEmpty())
                names.append(tag.trimmed());
        }
        drivers.append(QJsonObject{
            {QStringLiteral("name"), names.isEmpty() ? QString() : names.first().toString()},
            {QStringLiteral("names"), names},
            {QStringLiteral("category"), record.at(category).contains(QLatin1String("malicious"), Qt::CaseInsensitive)
                                             ? QStringLiteral("malicious")
                                             : QStringLiteral("vulnerable")},
            {QStringLiteral("sha256"), listOf(record.at(sha256))},
            {QStringLiteral("sha1"), listOf(record.at(sha1))},
            {QStringLiteral("authenticode_sha256"), listOf(record.at(authenticode))}});
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        QTextStream(stderr) << "usage: vigilor-demo-driver-list OUT_JSON DRIVERS_CSV...\n";
        return 2;
    }
    QJsonArray drivers;
    for (int i = 2; i < argc; ++i) {
        if (!addDrivers(QString::fromLocal8Bit(argv[i]), drivers))
            return 1;
    }
    const QJsonObject document{
        {QStringLiteral("ok"), true},
        {QStringLiteral("data"),
         QJsonObject{{QStringLiteral("source"), QStringLiteral("LOLDrivers (Apache-2.0), drivers.csv")},
                     {QStringLiteral("drivers"), drivers}}}};
    QFile output(QString::fromLocal8Bit(argv[1]));
    if (!output.open(QIODevice::WriteOnly) ||
        output.write(QJsonDocument(document).toJson(QJsonDocument::Compact)) < 0) {
        QTextStream(stderr) << output.fileName() << ": " << output.errorString() << "\n";
        return 1;
    }
    QTextStream(stdout) << "drivers: " << drivers.size() << "\n";
    return 0;
}
