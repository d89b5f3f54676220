#include "traces/TraceDecoders.h"

#include <QDir>
#include <QRegularExpression>
#include <QTextCodec>
#include <QtEndian>

#include <algorithm>

namespace traces {
namespace {
// 100 ns steps from 1601-01-01 to 1970-01-01.
constexpr quint64 kFileTimeUnixEpoch = 116444736000000000ULL;
// Windows itself refuses times from here on (its calendar ends in the year 30828); a value this large
// is planted or garbage, and as a signed number it would overflow.
constexpr quint64 kFirstInvalidFileTime = 0x7FFF000000000000ULL;

// "YYYY-MM-DD HH:MM:SS" with an optional ".fff", as UTC from its parts: read through local time, an
// hour that the examiner's clock skips (summer time) would be lost.
QDateTime utcFromText(const QStringRef &text)
{
    static const QRegularExpression format(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,3}))?$"));
    const QRegularExpressionMatch parts = format.match(text);
    if (!parts.hasMatch())
        return QDateTime();
    const auto number = [&parts](int n) { return parts.capturedRef(n).toInt(); };
    const QString fraction = parts.captured(7).leftJustified(3, QLatin1Char('0'));
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6), fraction.toInt());
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}
} // namespace

QDateTime fileTime(const QByteArray &data, int offset)
{
    if (offset < 0 || data.size() < offset + 8)
        return QDateTime();
    return fileTime(qFromLittleEndian<quint64>(data.constData() + offset));
}

QDateTime fileTime(quint64 ticks)
{
    if (ticks == 0 || ticks >= kFirstInvalidFileTime)
        return QDateTime();
    const qint64 msecs = (static_cast<qint64>(ticks) - static_cast<qint64>(kFileTimeUnixEpoch)) / 10000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

QString rot13(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        const ushort u = c.unicode();
        if (u >= 'a' && u <= 'z')
            c = QChar(static_cast<ushort>('a' + (u - 'a' + 13) % 26));
        else if (u >= 'A' && u <= 'Z')
            c = QChar(static_cast<ushort>('A' + (u - 'A' + 13) % 26));
    }
    return result;
}

QString dosPath(const QString &path, const QVector<QPair<QString, QString>> &devices)
{
    for (const auto &device : devices) {
        if (device.first.isEmpty() || !path.startsWith(device.first, Qt::CaseInsensitive))
            continue;
        // The device name must end where a path component ends: Volume1 is not Volume10.
        if (path.size() == device.first.size() || path.at(device.first.size()) == QLatin1Char('\\'))
            return device.second + path.mid(device.first.size());
    }
    return path;
}

QString prefetchProgram(const QString &fileName)
{
    const int dash = fileName.lastIndexOf(QLatin1Char('-'));
    if (dash > 0)
        return fileName.left(dash);
    QString name = fileName;
    if (name.endsWith(QLatin1String(".pf"), Qt::CaseInsensitive))
        name.chop(3);
    return name;
}

QString muiCacheProgram(const QString &valueName)
{
    if (valueName.startsWith(QLatin1Char('@')) || valueName.compare(QLatin1String("LangID"), Qt::CaseInsensitive) == 0)
        return QString();
    for (const QLatin1String suffix : {QLatin1String(".FriendlyAppName"), QLatin1String(".ApplicationCompany")}) {
        if (valueName.endsWith(suffix, Qt::CaseInsensitive))
            return valueName.left(valueName.size() - suffix.size());
    }
    return valueName;
}

QVector<QPair<QString, QDateTime>> pcaLaunches(const QByteArray &content, QTextCodec *ansi)
{
    QString text;
    if (content.startsWith("\xFF\xFE")) {
        text = QTextCodec::codecForName("UTF-16LE")->toUnicode(content.mid(2));
    } else {
        const QByteArray body = content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
        QTextCodec::ConverterState state;
        text = QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
        if (state.invalidChars > 0 && ansi)
            text = ansi->toUnicode(body);
    }
    QVector<QPair<QString, QDateTime>> launches;
    for (const QStringRef &raw : text.splitRef(QLatin1Char('\n'))) {
        const QStringRef line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const int bar = line.lastIndexOf(QLatin1Char('|'));
        const QString path = (bar < 0 ? line : line.left(bar)).toString();
        if (path.isEmpty())
            continue;
        launches.append({path, bar >= 0 ? utcFromText(line.mid(bar + 1)) : QDateTime()});
    }
    return launches;
}

bool isAbsoluteProgramPath(const QString &path)
{
    static const QRegularExpression windowsPath(QStringLiteral("^([A-Za-z]:[\\\\/]|\\\\\\\\[^\\\\])"));
    // Native absolute paths count only where they start with '/': on Windows that is a path without a
    // drive, and an unconverted "\Device\…" name is no place to look at.
    return windowsPath.match(path).hasMatch() ||
           (QDir::separator() == QLatin1Char('/') && path.startsWith(QLatin1Char('/')));
}

bool isShareOrDevicePath(const QString &path)
{
    static const QRegularExpression drivePath(QStringLiteral("^[\\\\/]{2}\\?[\\\\/][A-Za-z]:[\\\\/]"));
    const bool doubleSlash = path.size() > 1 && (path.at(0) == QLatin1Char('\\') || path.at(0) == QLatin1Char('/')) &&
                             (path.at(1) == QLatin1Char('\\') || path.at(1) == QLatin1Char('/'));
    return (doubleSlash && !drivePath.match(path).hasMatch()) ||
           path.startsWith(QLatin1String("\\??\\UNC\\"), Qt::CaseInsensitive);
}

QString programFileName(const QString &path)
{
    const int slash = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(slash + 1);
}

} // namespace traces

std::optional<QPair<QString, QDateTime>> traces::recycledFile(const QByteArray &data)
{
    if (data.size() < 24)
        return std::nullopt;
    const quint64 version = qFromLittleEndian<quint64>(data.constData());
    int start = 24;
    int units = 260;
    if (version == 2) {
        if (data.size() < 28)
            return std::nullopt;
        start = 28;
        units = static_cast<int>(std::min<quint32>(qFromLittleEndian<quint32>(data.constData() + 24), 32768));
    } else if (version != 1) {
        return std::nullopt;
    }
    if (data.size() < start + 2 * units)
        return std::nullopt;
    QString path = QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData() + start), units);
    path.truncate(path.indexOf(QChar(0)) >= 0 ? path.indexOf(QChar(0)) : path.size());
    if (path.isEmpty())
        return std::nullopt;
    return QPair<QString, QDateTime>(path, fileTime(data, 16));
}

QVector<traces::UsnRecord> traces::usnRecords(const QByteArray &data, bool &broken)
{
    QVector<UsnRecord> records;
    broken = false;
    int at = 0;
    while (at + 8 <= data.size()) {
        const char *record = data.constData() + at;
        const quint32 length = qFromLittleEndian<quint32>(record);
        const quint16 major = qFromLittleEndian<quint16>(record + 4);
        if (length == 0)
            break; // the rest of a buffer
        const int references = major == 2 ? 8 : major == 3 ? 16 : 0;
        const int fixed = 8 + 2 * references + 8 + 8 + 4 * 4 + 2 + 2;
        if (references == 0 || length < quint32(fixed) || length > quint32(data.size() - at)) {
            broken = true;
            break;
        }
        UsnRecord parsed;
        parsed.file = data.mid(at + 8, references);
        parsed.parent = data.mid(at + 8 + references, references);
        const int after = 8 + 2 * references + 8; // past the USN
        parsed.time = fileTime(data, at + after);
        parsed.reasons = qFromLittleEndian<quint32>(record + after + 8);
        const quint16 nameLength = qFromLittleEndian<quint16>(record + after + 8 + 16);
        const quint16 nameOffset = qFromLittleEndian<quint16>(record + after + 8 + 18);
        if (nameOffset < fixed || quint32(nameOffset) + nameLength > length || nameLength % 2) {
            broken = true;
            break;
        }
        parsed.name = QString::fromUtf16(reinterpret_cast<const char16_t *>(record + nameOffset), nameLength / 2);
        records.append(parsed);
        at += static_cast<int>((length + 7) & ~7u);
    }
    return records;
}
