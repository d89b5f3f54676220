#include "HiveFixture.h"

#include <QtEndian>

namespace {
constexpr int kBaseBlock = 4096;
constexpr quint32 kNoCell = 0xFFFFFFFF;

// Little-endian fields written by replacing bytes: GCC misjudges raw writes into a QByteArray's data().
template <typename Number> void put(QByteArray &bytes, int at, Number number)
{
    char field[sizeof(Number)];
    qToLittleEndian<Number>(number, field);
    bytes.replace(at, int(sizeof(Number)), field, int(sizeof(Number)));
}

quint64 fileTime(const QDateTime &time)
{
    return time.isValid() ? quint64(time.toMSecsSinceEpoch() + 11644473600000LL) * 10000 : 0;
}

// The bins' cells, each allocated (a negative size) and 8-byte aligned, in bins of 4 KiB as Windows
// writes them (larger only for a larger cell): libregf finds a cell by walking its bin. Offsets count
// from the first bin's start.
class Cells
{
public:
    quint32 add(const QByteArray &content)
    {
        const int size = (4 + content.size() + 7) & ~7;
        if (data.isEmpty() || used + size > data.size()) {
            closeBin();
            openBin(size);
        }
        const quint32 offset = static_cast<quint32>(used);
        put<qint32>(data, used, -size);
        data.replace(used + 4, content.size(), content);
        used += size;
        return offset;
    }
    void set(quint32 offset, int at, quint32 value) { put<quint32>(data, int(offset) + 4 + at, value); }

    QByteArray finished()
    {
        closeBin();
        return data;
    }

private:
    void openBin(int cell)
    {
        const int start = data.size();
        const int size = (32 + cell + 4095) & ~4095;
        data.append(QByteArray(size, '\0'));
        data.replace(start, 4, "hbin", 4);
        put<quint32>(data, start + 4, static_cast<quint32>(start));
        put<quint32>(data, start + 8, static_cast<quint32>(size));
        used = start + 32;
    }
    // The unused rest of the bin is one free cell (a positive size), as Windows leaves it.
    void closeBin()
    {
        if (used < data.size())
            put<qint32>(data, used, data.size() - used);
        used = data.size();
    }

    QByteArray data;
    int used = 0;
};

QByteArray numbers(std::initializer_list<quint32> values)
{
    QByteArray bytes;
    for (quint32 value : values) {
        char word[4];
        qToLittleEndian<quint32>(value, word);
        bytes.append(word, 4);
    }
    return bytes;
}

// The base block's checksum: the XOR of its first 127 double words.
QByteArray withChecksum(QByteArray hive)
{
    quint32 checksum = 0;
    for (int at = 0; at < 508; at += 4)
        checksum ^= qFromLittleEndian<quint32>(hive.constData() + at);
    put<quint32>(hive, 508, checksum);
    return hive;
}

quint32 writeValue(Cells &cells, const HiveValue &value)
{
    const QByteArray name = value.name.toLatin1();
    QByteArray vk(20, '\0');
    vk.replace(0, 2, "vk", 2);
    put<quint16>(vk, 2, static_cast<quint16>(name.size()));
    if (value.data.size() <= 4) {
        // Small data lives in the offset field itself.
        put<quint32>(vk, 4, 0x80000000u | static_cast<quint32>(value.data.size()));
        vk.replace(8, value.data.size(), value.data);
    } else {
        put<quint32>(vk, 4, static_cast<quint32>(value.data.size()));
        put<quint32>(vk, 8, cells.add(value.data));
    }
    put<quint32>(vk, 12, value.type);
    put<quint16>(vk, 16, name.isEmpty() ? 0 : 1); // the name in ASCII
    return cells.add(vk + name);
}

quint32 writeKey(Cells &cells, const HiveKey &key, quint32 parent, bool root)
{
    const QByteArray name = key.name.toLatin1();
    QByteArray nk(76, '\0');
    nk.replace(0, 2, "nk", 2);
    put<quint16>(nk, 2, root ? 0x2C : 0x20);
    put<quint64>(nk, 4, fileTime(key.written));
    put<quint32>(nk, 16, parent);
    put<quint32>(nk, 20, static_cast<quint32>(key.keys.size()));
    put<quint32>(nk, 28, kNoCell);
    put<quint32>(nk, 32, kNoCell);
    put<quint32>(nk, 36, static_cast<quint32>(key.values.size()));
    put<quint32>(nk, 40, kNoCell);
    put<quint32>(nk, 44, kNoCell);
    put<quint32>(nk, 48, kNoCell);
    put<quint16>(nk, 72, static_cast<quint16>(name.size()));
    const quint32 self = cells.add(nk + name);
    if (!key.values.isEmpty()) {
        QByteArray list;
        for (const HiveValue &value : key.values)
            list += numbers({writeValue(cells, value)});
        cells.set(self, 40, cells.add(list));
    }
    if (!key.keys.isEmpty()) {
        QByteArray list("li");
        list += QByteArray(2, '\0');
        put<quint16>(list, 2, static_cast<quint16>(key.keys.size()));
        for (const HiveKey &sub : key.keys)
            list += numbers({writeKey(cells, sub, self, false)});
        cells.set(self, 28, cells.add(list));
    }
    return self;
}
} // namespace

HiveValue HiveValue::text(const QString &name, const QString &text)
{
    return {name, 1, QByteArray(reinterpret_cast<const char *>(text.utf16()), (text.size() + 1) * 2)};
}

HiveValue HiveValue::number(const QString &name, quint32 number)
{
    return {name, 4, numbers({number})};
}

HiveValue HiveValue::quad(const QString &name, quint64 number)
{
    return {name, 11, numbers({static_cast<quint32>(number), static_cast<quint32>(number >> 32)})};
}

QByteArray registryHive(const HiveKey &root)
{
    Cells cells;
    const quint32 rootCell = writeKey(cells, root, kNoCell, true);
    const QByteArray bins = cells.finished();
    QByteArray base(kBaseBlock, '\0');
    base.replace(0, 4, "regf", 4);
    put<quint32>(base, 4, 1); // both sequence numbers alike: no log to replay
    put<quint32>(base, 8, 1);
    put<quint64>(base, 12, fileTime(root.written));
    put<quint32>(base, 20, 1); // format 1.5
    put<quint32>(base, 24, 5);
    put<quint32>(base, 28, 0);
    put<quint32>(base, 32, 1);
    put<quint32>(base, 36, rootCell);
    put<quint32>(base, 40, static_cast<quint32>(bins.size()));
    put<quint32>(base, 44, 1);
    return withChecksum(base) + bins;
}

QByteArray unflushedHive(const QByteArray &hive)
{
    QByteArray changed = hive;
    put<quint32>(changed, 4, qFromLittleEndian<quint32>(hive.constData() + 8) + 1);
    return withChecksum(changed);
}

QByteArray amcacheHive(const QVector<AmcacheFixtureFile> &files, bool inventory)
{
    const QDateTime start = files.isEmpty() ? QDateTime::currentDateTimeUtc() : files.first().recorded;
    HiveKey root{QStringLiteral("{11517B7C-E79D-4e20-961B-75A811715ADD}"), start, {}, {}};
    HiveKey rootKey{QStringLiteral("Root"), start, {}, {}};
    if (inventory) {
        HiveKey applications{QStringLiteral("InventoryApplicationFile"), start, {}, {}};
        HiveKey drivers{QStringLiteral("InventoryDriverBinary"), start, {}, {}};
        int n = 0;
        for (const AmcacheFixtureFile &file : files) {
            const QString fileId = QStringLiteral("0000") + file.sha1;
            if (file.driver) {
                drivers.keys.append(
                    {file.path.toLower().replace(QLatin1Char('\\'), QLatin1Char('/')),
                     file.recorded,
                     {HiveValue::text(QStringLiteral("DriverName"), file.path.section('\\', -1)),
                      HiveValue::text(QStringLiteral("DriverId"), fileId),
                      HiveValue::number(QStringLiteral("DriverSigned"), file.publisher.isEmpty() ? 0 : 1),
                      HiveValue::text(QStringLiteral("DriverCompany"), file.publisher)},
                     {}});
                continue;
            }
            applications.keys.append(
                {QStringLiteral("%1.exe|%2")
                     .arg(file.path.section('\\', -1).section('.', 0, 0))
                     .arg(++n, 16, 16, QLatin1Char('0')),
                 file.recorded,
                 {HiveValue::text(QStringLiteral("LowerCaseLongPath"), file.path.toLower()),
                  HiveValue::text(QStringLiteral("FileId"), fileId),
                  HiveValue::text(QStringLiteral("LinkDate"), QStringLiteral("01/02/2024 03:04:05")),
                  HiveValue::quad(QStringLiteral("Size"), file.size),
                  HiveValue::text(QStringLiteral("Publisher"), file.publisher)},
                 {}});
        }
        rootKey.keys = {applications, drivers};
    } else {
        HiveKey fileKey{QStringLiteral("File"), start, {}, {}};
        HiveKey volume{QStringLiteral("{2a6bb2cd-0000-0000-0000-100000000000}"), start, {}, {}};
        int n = 0;
        for (const AmcacheFixtureFile &file : files) {
            if (file.driver)
                continue;
            volume.keys.append({QString::number(++n, 16),
                                file.recorded,
                                {HiveValue::text(QStringLiteral("15"), file.path),
                                 HiveValue::text(QStringLiteral("101"), QStringLiteral("0000") + file.sha1),
                                 HiveValue::number(QStringLiteral("6"), static_cast<quint32>(file.size)),
                                 HiveValue::quad(QStringLiteral("17"), fileTime(file.recorded.addDays(-1)))},
                                {}});
        }
        fileKey.keys = {volume};
        rootKey.keys = {fileKey};
    }
    root.keys = {rootKey};
    return registryHive(root);
}
