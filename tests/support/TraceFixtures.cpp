#include "TraceFixtures.h"

#include <QVector>
#include <QtEndian>

#include <algorithm>

namespace {

void putNumber(QByteArray &data, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, data.data() + offset);
}

void putTime(QByteArray &data, int offset, const QDateTime &time)
{
    const quint64 ticks = quint64(time.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
    qToLittleEndian<quint64>(ticks, data.data() + offset);
}

QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Where each format keeps its fields: the file information's size, the offset of the first run time,
// how many it keeps, the run count's offset, and the sizes of a metrics and a volume entry.
struct Layout
{
    int informationSize;
    int runTimes;
    int runTimeCount;
    int runCount;
    int metricsEntry;
    int volumeEntry;
};

Layout layoutOf(quint32 format)
{
    switch (format) {
    case 17:
        return {68, 0x78, 1, 0x90, 20, 40};
    case 23:
        return {156, 0x80, 1, 0x98, 32, 104};
    default: // 26, 30 and 31 (the longer variant, its metrics at 0x130)
        return {220, 0x80, 8, 0xD0, 32, 96};
    }
}

} // namespace

QByteArray prefetchFile(const QDateTime &lastRun, quint32 format, const QString &executable, int runs,
                        const QStringList &files, const QString &device, quint32 serial)
{
    const Layout layout = layoutOf(format);
    QByteArray names;
    QVector<QPair<int, int>> nameSpans;
    for (const QString &file : files) {
        nameSpans.append({names.size(), static_cast<int>(file.size())});
        names += utf16(file) + QByteArray(2, '\0');
    }
    const int metrics = 84 + layout.informationSize;
    const int chains = metrics + layout.metricsEntry * static_cast<int>(files.size());
    const int strings = chains;
    const int volumes = strings + names.size();
    const QByteArray devicePath = utf16(device) + QByteArray(2, '\0');
    const int volumesSize = layout.volumeEntry + devicePath.size();
    QByteArray data(volumes + volumesSize, '\0');

    putNumber(data, 0, format);
    data.replace(4, 4, "SCCA");
    putNumber(data, 8, format == 17 ? 0x0F : 0x11);
    putNumber(data, 12, static_cast<quint32>(data.size()));
    data.replace(16, static_cast<int>(executable.size()) * 2, utf16(executable));
    putNumber(data, 76, 0x1A2B3C4D);
    putNumber(data, 84, static_cast<quint32>(metrics));
    putNumber(data, 88, static_cast<quint32>(files.size()));
    putNumber(data, 92, static_cast<quint32>(chains));
    putNumber(data, 100, static_cast<quint32>(strings));
    putNumber(data, 104, static_cast<quint32>(names.size()));
    putNumber(data, 108, static_cast<quint32>(volumes));
    putNumber(data, 112, 1);
    putNumber(data, 116, static_cast<quint32>(volumesSize));
    for (int i = 0; i < std::min(runs, layout.runTimeCount); ++i)
        putTime(data, layout.runTimes + 8 * i, lastRun.addSecs(-3600 * i));
    putNumber(data, layout.runCount, static_cast<quint32>(runs));
    for (int i = 0; i < nameSpans.size(); ++i) {
        const int entry = metrics + i * layout.metricsEntry;
        const int at = layout.metricsEntry == 20 ? 8 : 12; // the name's offset, then its length
        putNumber(data, entry + at, static_cast<quint32>(nameSpans.at(i).first));
        putNumber(data, entry + at + 4, static_cast<quint32>(nameSpans.at(i).second));
    }
    data.replace(strings, names.size(), names);
    putNumber(data, volumes, static_cast<quint32>(layout.volumeEntry));
    putNumber(data, volumes + 4, static_cast<quint32>(device.size()));
    putTime(data, volumes + 8, lastRun.addYears(-1));
    putNumber(data, volumes + 16, serial);
    data.replace(volumes + layout.volumeEntry, devicePath.size(), devicePath);
    return data;
}

QByteArray shortcutFile(const QByteArray &localPath, quint32 driveType, const QByteArray &netName,
                        const QByteArray &suffix)
{
    QByteArray header(76, '\0');
    putNumber(header, 0, 0x4C);
    header.replace(4, 16, QByteArray::fromHex("0114020000000000c000000000000046"));
    const bool linkInfo = !localPath.isEmpty() || !netName.isEmpty();
    putNumber(header, 20, linkInfo ? 0x2 : 0x0); // HasLinkInfo
    putNumber(header, 60, 1);                    // ShowCommand: normal
    if (!linkInfo)
        return header;
    constexpr int kInfoHeader = 0x1C;
    QByteArray body;
    QByteArray info(kInfoHeader, '\0');
    putNumber(info, 4, kInfoHeader);
    if (!localPath.isEmpty()) {
        QByteArray volume(16, '\0');
        putNumber(volume, 0, 17);
        putNumber(volume, 4, driveType);
        putNumber(volume, 8, 0x1234ABCD);
        putNumber(volume, 12, 0x10); // the (empty) label right after
        putNumber(info, 8, 1);
        putNumber(info, 12, kInfoHeader);
        putNumber(info, 16, static_cast<quint32>(kInfoHeader + volume.size() + 1));
        body += volume + QByteArray(1, '\0') + localPath + QByteArray(1, '\0');
    } else {
        QByteArray link(20, '\0');
        putNumber(link, 0, static_cast<quint32>(20 + netName.size() + 1));
        putNumber(link, 8, 20);
        putNumber(info, 8, 2);
        putNumber(info, 20, kInfoHeader);
        body += link + netName + QByteArray(1, '\0');
    }
    putNumber(info, 24, static_cast<quint32>(kInfoHeader + body.size()));
    body += suffix + QByteArray(1, '\0');
    putNumber(info, 0, static_cast<quint32>(kInfoHeader + body.size()));
    return header + info + body;
}

QByteArray compressedPrefetch(const QByteArray &plain)
{
    QByteArray out("MAM\x04", 4);
    out += QByteArray(4, '\0');
    putNumber(out, 4, static_cast<quint32>(plain.size()));
    out += QByteArray(256, '\x99');
    quint32 bits = 0;
    int count = 0;
    QByteArray stream;
    const auto flushWord = [&stream](quint16 word) {
        stream += static_cast<char>(word & 0xFF);
        stream += static_cast<char>(word >> 8);
    };
    for (const char byte : plain) {
        bits = (bits << 9) | static_cast<quint8>(byte);
        count += 9;
        while (count >= 16) {
            flushWord(static_cast<quint16>(bits >> (count - 16)));
            count -= 16;
        }
    }
    if (count > 0)
        flushWord(static_cast<quint16>(bits << (16 - count)));
    return out + stream + QByteArray(4, '\0');
}

QByteArray usnRecord(int version, quint64 file, quint64 parent, const QDateTime &time, quint32 reasons,
                     const QString &name)
{
    const int references = version == 2 ? 8 : 16;
    const int nameOffset = 8 + 2 * references + 8 + 8 + 16 + 4;
    const QByteArray encoded = utf16(name);
    QByteArray record(nameOffset, '\0');
    record += encoded;
    record += QByteArray((8 - record.size() % 8) % 8, '\0');
    putNumber(record, 0, static_cast<quint32>(record.size()));
    qToLittleEndian<quint16>(static_cast<quint16>(version), record.data() + 4);
    qToLittleEndian<quint64>(file, record.data() + 8);
    qToLittleEndian<quint64>(parent, record.data() + 8 + references);
    const int after = 8 + 2 * references + 8;
    putTime(record, after, time);
    putNumber(record, after + 8, reasons);
    qToLittleEndian<quint16>(static_cast<quint16>(encoded.size()), record.data() + after + 24);
    qToLittleEndian<quint16>(static_cast<quint16>(nameOffset), record.data() + after + 26);
    return record;
}

namespace {
void put16(QByteArray &data, int offset, quint16 value)
{
    qToLittleEndian<quint16>(value, data.data() + offset);
}

void put64(QByteArray &data, int offset, quint64 value)
{
    qToLittleEndian<quint64>(value, data.data() + offset);
}
} // namespace

QByteArray peImage(const QByteArray &payload)
{
    constexpr int kHeaders = 0x200;
    const int section = (std::max(int(payload.size()), 1) + 0x1ff) & ~0x1ff;
    QByteArray image(kHeaders + section, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    putNumber(image, 0x3c, 0x40);
    putNumber(image, 0x40, 0x00004550); // "PE\0\0"
    const int file = 0x44;
    put16(image, file, 0x8664);      // x64
    put16(image, file + 2, 1);       // one section
    put16(image, file + 16, 240);    // the optional header's size
    put16(image, file + 18, 0x0022); // executable, large addresses
    const int optional = file + 20;
    put16(image, optional, 0x20b);
    putNumber(image, optional + 4, quint32(section)); // SizeOfCode
    putNumber(image, optional + 16, 0x1000);          // AddressOfEntryPoint
    putNumber(image, optional + 20, 0x1000);          // BaseOfCode
    put64(image, optional + 24, 0x140000000ULL);
    putNumber(image, optional + 32, 0x1000);                                         // SectionAlignment
    putNumber(image, optional + 36, 0x200);                                          // FileAlignment
    put16(image, optional + 40, 6);                                                  // OS version
    put16(image, optional + 48, 6);                                                  // subsystem version
    putNumber(image, optional + 56, quint32(0x1000 + ((section + 0xfff) & ~0xfff))); // SizeOfImage
    putNumber(image, optional + 60, kHeaders);
    put16(image, optional + 68, 1); // native: a driver
    put64(image, optional + 72, 0x40000);
    put64(image, optional + 80, 0x1000);
    put64(image, optional + 88, 0x100000);
    put64(image, optional + 96, 0x1000);
    putNumber(image, optional + 108, 16); // data directories
    const int header = optional + 240;
    image.replace(header, 5, ".text");
    putNumber(image, header + 8, quint32(payload.size()));
    putNumber(image, header + 12, 0x1000);
    putNumber(image, header + 16, quint32(section));
    putNumber(image, header + 20, kHeaders);
    putNumber(image, header + 36, 0x60000020); // code, readable, executable
    image.replace(kHeaders, payload.size(), payload);
    return image;
}

QByteArray compatCacheValue(int layout, const QStringList &paths, const QDateTime &modified)
{
    const auto utf16 = [](const QString &text) {
        return QByteArray(reinterpret_cast<const char *>(text.utf16()), int(text.size()) * 2);
    };
    QByteArray value;
    if (layout == 7) {
        value = QByteArray(0x80 + 48 * paths.size(), '\0');
        putNumber(value, 0, 0xbadc0fee);
        putNumber(value, 4, quint32(paths.size()));
        for (int i = 0; i < paths.size(); ++i) {
            const int entry = 0x80 + 48 * i;
            const QByteArray path = utf16(paths.at(i));
            put16(value, entry, quint16(path.size()));
            put16(value, entry + 2, quint16(path.size() + 2));
            put64(value, entry + 8, quint64(value.size()));
            putTime(value, entry + 16, modified.addSecs(-60 * i));
            value += path + QByteArray(2, '\0');
        }
        return value;
    }
    value = QByteArray(layout == 10 ? 0x34 : 0x80, '\0');
    putNumber(value, 0, quint32(value.size()));
    for (int i = 0; i < paths.size(); ++i) {
        const QByteArray path = utf16(paths.at(i));
        QByteArray body(2, '\0');
        put16(body, 0, quint16(path.size()));
        body += path;
        if (layout != 10)
            body += QByteArray(2 + 8, '\0'); // no package, two flag fields
        QByteArray time(8, '\0');
        putTime(time, 0, modified.addSecs(-60 * i));
        body += time + QByteArray(4, '\0'); // no data
        QByteArray head = layout == 8 ? QByteArray("00ts") : QByteArray("10ts");
        head += QByteArray(8, '\0');
        putNumber(head, 8, quint32(body.size()));
        value += head + body;
    }
    return value;
}

QByteArray fileTimeBytes(const QDateTime &time)
{
    QByteArray bytes(8, '\0');
    putTime(bytes, 0, time);
    return bytes;
}

QByteArray registryHex(const QByteArray &data, const char *type)
{
    return QByteArray(type) + ':' + data.toHex(',');
}
