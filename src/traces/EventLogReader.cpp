#include "traces/EventLogReader.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <optional>

namespace {
// One event's XML, parsed alone: empty, with `error` set, when it is not well-formed.
std::optional<LoggedEvent> parseEvent(QStringView xml, QString &error)
{
    QXmlStreamReader reader(xml.toString());
    LoggedEvent event;
    bool inEvent = false;
    bool complete = false;
    QString section; // "EventData", "UserData" or empty
    QString userDataElement;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const QStringRef name = reader.name();
            if (name == QLatin1String("Event")) {
                event = LoggedEvent();
                inEvent = true;
                section.clear();
            } else if (!inEvent) {
                continue;
            } else if (name == QLatin1String("EventData") || name == QLatin1String("UserData")) {
                section = name.toString();
            } else if (name == QLatin1String("EventID")) {
                event.id = reader.readElementText().trimmed().toInt();
            } else if (name == QLatin1String("Channel") && section.isEmpty()) {
                event.channel = reader.readElementText().trimmed();
            } else if (name == QLatin1String("TimeCreated")) {
                event.time = QDateTime::fromString(reader.attributes().value(QLatin1String("SystemTime")).toString(),
                                                   Qt::ISODateWithMs)
                                 .toUTC();
            } else if (section == QLatin1String("EventData") && name == QLatin1String("Data")) {
                const QString key = reader.attributes().value(QLatin1String("Name")).toString();
                const QString value = reader.readElementText(QXmlStreamReader::IncludeChildElements);
                if (!key.isEmpty())
                    event.data.insert(key, value);
            } else if (section == QLatin1String("EventData") && name == QLatin1String("Binary")) {
                event.binary = reader.readElementText().trimmed();
            } else if (section == QLatin1String("UserData")) {
                userDataElement = name.toString(); // its text, if it has any, is the value
            }
        } else if (reader.isCharacters() && section == QLatin1String("UserData") && !reader.isWhitespace()) {
            event.data[userDataElement] += reader.text().toString().trimmed();
        } else if (reader.isEndElement()) {
            if (reader.name() == QLatin1String("Event") && inEvent) {
                inEvent = false;
                complete = true;
            } else if (reader.name() == QLatin1String("EventData") || reader.name() == QLatin1String("UserData")) {
                section.clear();
            }
        }
    }
    if (reader.hasError() || !complete) {
        error = reader.hasError() ? reader.errorString() : QStringLiteral("no complete event");
        return std::nullopt;
    }
    return event;
}

// Where the event starting at or after `from` begins: "<Event" followed by white space, '>' or '/',
// never "<Events"; -1 when there is none.
int nextEventStart(const QString &xml, int from)
{
    for (int at = xml.indexOf(QLatin1String("<Event"), from); at >= 0;
         at = xml.indexOf(QLatin1String("<Event"), at + 1)) {
        const int after = at + 6;
        if (after >= xml.size())
            return at;
        const QChar c = xml.at(after);
        if (c == QLatin1Char('>') || c == QLatin1Char('/') || c.isSpace())
            return at;
    }
    return -1;
}
} // namespace

QVector<LoggedEvent> parseEvents(const QString &xml, QString &error, QString *detail)
{
    // Each event is parsed on its own, as Windows renders them one by one: one that cannot be read
    // is skipped and counted, and the ones after it are still read.
    static const QLatin1String kEnd("</Event>");
    QVector<LoggedEvent> events;
    int skipped = 0;
    QString firstError;
    for (int start = nextEventStart(xml, 0); start >= 0;) {
        const int next = nextEventStart(xml, start + 1);
        // An event ends at its "</Event>" before the next one starts; without one, it was cut off.
        const QStringView span = QStringView(xml).mid(start, (next < 0 ? xml.size() : next) - start);
        const int close = span.indexOf(kEnd);
        QString reason;
        const std::optional<LoggedEvent> event = parseEvent(close < 0 ? span : span.left(close + kEnd.size()), reason);
        if (event)
            events.append(*event);
        else if (skipped++ == 0)
            firstError = reason;
        start = next;
    }
    if (skipped > 0) {
        error = QObject::tr("пропущено повреждённых событий: %1").arg(skipped);
        if (detail)
            *detail = firstError;
    }
    return events;
}

QString utf16FromHex(const QString &hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
    const int end = text.indexOf(QChar(0));
    return end >= 0 ? text.left(end) : text;
}

QString serviceImageFile(const QString &imagePath, const QString &windowsFolder)
{
    QString path = imagePath.trimmed();
    if (path.startsWith(QLatin1Char('"'))) {
        const int close = path.indexOf(QLatin1Char('"'), 1);
        path = path.mid(1, close < 0 ? -1 : close - 1);
    } else {
        // An unquoted path with arguments: up to the first space after a file with an extension.
        static const QRegularExpression kExtension(QStringLiteral("\\.(exe|sys|dll)( |$)"),
                                                   QRegularExpression::CaseInsensitiveOption);
        const int extension = path.indexOf(kExtension);
        if (extension >= 0)
            path = path.left(extension + 4);
    }
    if (path.startsWith(QLatin1String("\\??\\")))
        path = path.mid(4);
    // Below the Windows folder, in its own spelling ("C:\\Windows", or a local path elsewhere).
    const auto below = [&windowsFolder](const QString &rest) {
        const QChar separator = windowsFolder.contains(QLatin1Char('\\')) ? QLatin1Char('\\') : QLatin1Char('/');
        return windowsFolder + separator + QString(rest).replace(QLatin1Char('\\'), separator);
    };
    if (windowsFolder.isEmpty())
        return path;
    if (path.startsWith(QLatin1String("\\SystemRoot\\"), Qt::CaseInsensitive))
        return below(path.mid(12));
    if (path.startsWith(QLatin1String("System32\\"), Qt::CaseInsensitive))
        return below(path);
    // The Windows folder named from the system drive's root, as the loader names boot drivers.
    if (path.startsWith(QLatin1String("\\Windows\\"), Qt::CaseInsensitive))
        return below(path.mid(9));
    return path;
}

bool installsDriver(const QString &serviceType, const QString &imageFile)
{
    return serviceType.contains(QLatin1String("driver"), Qt::CaseInsensitive) ||
           serviceType.contains(QStringLiteral("драйвер"), Qt::CaseInsensitive) ||
           imageFile.endsWith(QLatin1String(".sys"), Qt::CaseInsensitive);
}
