#include "traces/CompatCacheReader.h"

#include "traces/TraceDecoders.h"

#include <QObject>
#include <QtEndian>

namespace {
quint16 read16(const QByteArray &data, qint64 at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}
quint32 read32(const QByteArray &data, qint64 at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}
quint64 read64(const QByteArray &data, qint64 at)
{
    return qFromLittleEndian<quint64>(data.constData() + at);
}

QString utf16At(const QByteArray &data, qint64 at, int bytes)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData() + at), bytes / 2);
}

bool tooMany(CompatCache &cache)
{
    if (cache.entries.size() < kLargestCompatCache)
        return false;
    cache.problem = QObject::tr("прочитаны первые %1 записей").arg(kLargestCompatCache);
    return true;
}

QString cutAt(int position)
{
    return QObject::tr("запись %1 обрезана или не на своём месте").arg(position);
}

// Windows 8, 8.1, 10 and 11: signed entries one after another, each with its own size.
void readSignedEntries(const QByteArray &data, qint64 at, bool windows8, CompatCache &cache)
{
    const qint64 size = data.size();
    while (at < size && !tooMany(cache)) {
        const int position = cache.entries.size();
        if (at + 12 > size) {
            cache.problem = cutAt(position);
            return;
        }
        const QByteArray signature = data.mid(int(at), 4);
        if (signature != "10ts" && signature != "00ts") {
            cache.problem = QObject::tr("запись %1 без подписи записи").arg(position);
            return;
        }
        const qint64 entrySize = read32(data, at + 8);
        const qint64 body = at + 12;
        const qint64 end = body + entrySize;
        if (end > size || entrySize < 2) {
            cache.problem = cutAt(position);
            return;
        }
        const int pathBytes = read16(data, body);
        qint64 cursor = body + 2 + pathBytes;
        if (windows8) {
            // The package name, then two flag fields.
            if (cursor + 2 > end) {
                cache.problem = cutAt(position);
                return;
            }
            cursor += 2 + read16(data, cursor) + 8;
        }
        if (cursor + 8 > end) {
            cache.problem = cutAt(position);
            return;
        }
        cache.entries.append({utf16At(data, body + 2, pathBytes), traces::fileTime(data, int(cursor)), position});
        at = end;
    }
}

// Windows 7 64-bit: a table of 48-byte entries after the 0x80-byte header, each naming its path by
// offset from the start of the value.
void readWindows7(const QByteArray &data, CompatCache &cache)
{
    const qint64 size = data.size();
    const quint32 count = read32(data, 4);
    for (quint32 i = 0; i < count && !tooMany(cache); ++i) {
        const qint64 entry = 0x80 + qint64(i) * 48;
        if (entry + 48 > size) {
            cache.problem = cutAt(int(i));
            return;
        }
        const int pathBytes = read16(data, entry);
        const quint64 pathOffset = read64(data, entry + 8);
        if (pathOffset > quint64(size) || quint64(pathBytes) > quint64(size) - pathOffset) {
            cache.problem = cutAt(int(i));
            return;
        }
        cache.entries.append(
            {utf16At(data, qint64(pathOffset), pathBytes), traces::fileTime(data, int(entry + 16)), int(i)});
    }
}
} // namespace

CompatCache readCompatCache(const QByteArray &value)
{
    CompatCache cache;
    if (value.size() < 4) {
        cache.problem = QObject::tr("значение короче заголовка");
        return cache;
    }
    const quint32 header = read32(value, 0);
    if (header == 0x30 || header == 0x34) {
        cache.layout = QStringLiteral("Windows 10/11");
        readSignedEntries(value, header, false, cache);
    } else if (header == 0xbadc0fee && value.size() >= 0x80) {
        cache.layout = QStringLiteral("Windows 7");
        readWindows7(value, cache);
    } else if (header == 0x80 && value.size() >= 0x84 &&
               (value.mid(0x80, 4) == "00ts" || value.mid(0x80, 4) == "10ts")) {
        cache.layout = value.mid(0x80, 4) == "00ts" ? QStringLiteral("Windows 8") : QStringLiteral("Windows 8.1");
        readSignedEntries(value, 0x80, true, cache);
    } else {
        cache.problem = QObject::tr("неизвестный формат (заголовок 0x%1)").arg(header, 8, 16, QLatin1Char('0'));
    }
    return cache;
}
