#include "traces/PrefetchReader.h"

#include "traces/ParserCopy.h"
#include "traces/TraceDecoders.h"

#include <QtEndian>

#include <libfwnt.h>
#include <libscca.h>

#include <QSet>

#include <algorithm>
#include <memory>

namespace {
// Prefetch files are kilobytes; a file that claims more is made, not grown.
constexpr quint32 kLargestPlainPrefetch = 16 * 1024 * 1024;
constexpr int kRunTimes = 8;

// The plain content of a file that may be compressed ("MAM\x04": Xpress Huffman, the uncompressed
// size, an optional checksum, the data).
std::optional<QByteArray> plainContent(const QByteArray &data, QString &error, QString *detail)
{
    if (!data.startsWith("MAM"))
        return data;
    if (data.size() < 8 || (static_cast<quint8>(data.at(3)) & 0x0f) != 4) {
        error = QObject::tr("сжатие неизвестного вида");
        return std::nullopt;
    }
    const quint32 size = qFromLittleEndian<quint32>(data.constData() + 4);
    const int start = (static_cast<quint8>(data.at(3)) & 0x80) ? 12 : 8;
    if (size > kLargestPlainPrefetch || data.size() < start) {
        error = QObject::tr("несжатый размер %1 байт").arg(size);
        return std::nullopt;
    }
    QByteArray plain(static_cast<int>(size), '\0');
    size_t written = size;
    libfwnt_error_t *fwntError = nullptr;
    if (libfwnt_lzxpress_huffman_decompress(reinterpret_cast<const uint8_t *>(data.constData() + start),
                                            static_cast<size_t>(data.size() - start),
                                            reinterpret_cast<uint8_t *>(plain.data()), &written, &fwntError) != 1) {
        error = QObject::tr("не распаковывается");
        const QString cause = parserError(fwntError, libfwnt_error_backtrace_sprint, libfwnt_error_free);
        if (detail)
            *detail = cause;
        return std::nullopt;
    }
    plain.truncate(static_cast<int>(written));
    return plain;
}

// `units` UTF-16LE units at any offset of the file: the file may place them on an odd byte, where
// they cannot be read in place as 16-bit units.
QString utf16Units(const char *start, int units)
{
    QString text(units, Qt::Uninitialized);
    for (int i = 0; i < units; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(start + 2 * i));
    return text;
}

// The same up to its first zero.
QString utf16Text(const char *start, int units)
{
    const QString text = utf16Units(start, units);
    const int end = text.indexOf(QChar(0));
    return end >= 0 ? text.left(end) : text;
}

// The file names of every format, read in one pass from the file information's strings (their offset
// at 100 and size at 104 in each format's layout): at most kLargestPrefetchNames, each kept once.
bool readFileNames(const QByteArray &plain, PrefetchRecord &record, QString &error)
{
    const auto number = [&plain](int offset) { return qFromLittleEndian<quint32>(plain.constData() + offset); };
    if (plain.size() < 108) {
        error = QObject::tr("файл обрезан");
        return false;
    }
    const quint32 offset = number(100);
    const quint32 size = number(104);
    if (quint64(offset) + size > quint64(plain.size())) {
        error = QObject::tr("имена файлов за концом файла");
        return false;
    }
    // The strings as one text read in one pass, then cut at their zeros.
    const QString strings = utf16Units(plain.constData() + offset, static_cast<int>(size / 2));
    QSet<QString> seen;
    for (int start = 0; start < strings.size();) {
        int end = strings.indexOf(QChar(0), start);
        if (end < 0)
            end = strings.size();
        if (end > start) {
            if (record.files.size() == kLargestPrefetchNames) {
                record.filesCut = true;
                break;
            }
            const QString name = strings.mid(start, end - start);
            const QString key = name.toUpper(); // NTFS names ignore case
            if (!seen.contains(key)) {
                seen.insert(key);
                record.files.append(name);
            }
        }
        start = end + 1;
    }
    return true;
}

// Format 31 (Windows 11), read from the published layout of format 30, which it keeps: an 84-byte
// header, the file information, the file name strings and the volumes.
std::optional<PrefetchRecord> readFormat31(const QByteArray &plain, QString &error)
{
    const auto number = [&plain](int offset) { return qFromLittleEndian<quint32>(plain.constData() + offset); };
    if (plain.size() < 0xD4) {
        error = QObject::tr("файл обрезан");
        return std::nullopt;
    }
    PrefetchRecord record;
    record.format = number(0);
    record.executable = utf16Text(plain.constData() + 16, 30);
    const quint32 metricsOffset = number(84);
    for (int i = 0; i < kRunTimes; ++i) {
        const QDateTime time = traces::fileTime(plain, 128 + 8 * i);
        if (time.isValid())
            record.runTimes.append(time);
    }
    // Two variants: the shorter file information (metrics from 0x128 on) keeps the count 8 bytes sooner.
    record.runCount = number(metricsOffset == 0x128 ? 0xC8 : 0xD0);

    const quint64 size = static_cast<quint64>(plain.size());
    if (!readFileNames(plain, record, error))
        return std::nullopt;

    const quint32 volumesOffset = number(108);
    const quint32 volumeCount = std::min<quint32>(number(112), kLargestPrefetchVolumes + 1);
    constexpr quint32 kVolumeEntry = 96;
    if (quint64(volumesOffset) + quint64(volumeCount) * kVolumeEntry > size) {
        error = QObject::tr("тома за концом файла");
        return std::nullopt;
    }
    for (quint32 v = 0; v < volumeCount; ++v) {
        if (v == kLargestPrefetchVolumes) {
            record.volumesCut = true;
            break;
        }
        const quint32 entry = volumesOffset + v * kVolumeEntry;
        const quint64 pathOffset = quint64(volumesOffset) + number(static_cast<int>(entry));
        const quint32 pathChars = std::min<quint32>(number(static_cast<int>(entry + 4)), kLongestVolumePath);
        if (pathOffset + quint64(pathChars) * 2 > size) {
            error = QObject::tr("тома за концом файла");
            return std::nullopt;
        }
        record.volumes.append({utf16Text(plain.constData() + pathOffset, static_cast<int>(pathChars)),
                               number(static_cast<int>(entry + 16))});
    }
    return record;
}

struct SccaFile
{
    libscca_file_t *file = nullptr;
    ~SccaFile()
    {
        if (file) {
            libscca_file_close(file, nullptr);
            libscca_file_free(&file, nullptr);
        }
    }
};

std::optional<PrefetchRecord> readWithLibrary(const QByteArray &plain, const QString &scratchFolder, QString &error,
                                              QString *detail)
{
    // The library reads the file names with a cost that grows with the square of their count (each
    // is appended by walking those before it): they are read here in one pass instead, and its copy
    // holds a single empty one.
    QByteArray withoutNames = plain;
    if (withoutNames.size() >= 108)
        qToLittleEndian<quint32>(2, withoutNames.data() + 104);
    const ParserCopy copy(withoutNames, scratchFolder);
    if (!copy.isValid()) {
        error = QObject::tr("нет временной папки для копии");
        return std::nullopt;
    }
    SccaFile scca;
    libscca_error_t *sccaError = nullptr;
    const auto fail = [&]() -> std::optional<PrefetchRecord> {
        error = QObject::tr("повреждён");
        const QString cause = parserError(sccaError, libscca_error_backtrace_sprint, libscca_error_free);
        if (detail)
            *detail = cause;
        return std::nullopt;
    };
    if (libscca_file_initialize(&scca.file, &sccaError) != 1)
        return fail();
#ifdef Q_OS_WIN
    if (libscca_file_open_wide(scca.file, copy.wideName().c_str(), LIBSCCA_OPEN_READ, &sccaError) != 1)
        return fail();
#else
    if (libscca_file_open(scca.file, copy.localName().constData(), LIBSCCA_OPEN_READ, &sccaError) != 1)
        return fail();
#endif
    libscca_file_t *file = scca.file;
    PrefetchRecord record;
    uint32_t format = 0;
    if (libscca_file_get_format_version(file, &format, &sccaError) != 1)
        return fail();
    record.format = format;
    record.executable = parserText(
        [file](size_t *size) { return libscca_file_get_utf16_executable_filename_size(file, size, nullptr); },
        [file](uint16_t *text, size_t size) {
            return libscca_file_get_utf16_executable_filename(file, text, size, nullptr);
        });
    for (int i = 0; i < kRunTimes; ++i) {
        uint64_t filetime = 0;
        if (libscca_file_get_last_run_time(file, i, &filetime, nullptr) != 1)
            break;
        QByteArray raw(8, '\0');
        qToLittleEndian<quint64>(filetime, raw.data());
        const QDateTime time = traces::fileTime(raw, 0);
        if (time.isValid())
            record.runTimes.append(time);
    }
    uint32_t runCount = 0;
    if (libscca_file_get_run_count(file, &runCount, nullptr) == 1)
        record.runCount = runCount;
    if (!readFileNames(plain, record, error))
        return std::nullopt;
    int volumes = 0;
    libscca_file_get_number_of_volumes(file, &volumes, nullptr);
    record.volumesCut = volumes > kLargestPrefetchVolumes;
    for (int i = 0; i < std::min(volumes, kLargestPrefetchVolumes); ++i) {
        libscca_volume_information_t *volume = nullptr;
        if (libscca_file_get_volume_information(file, i, &volume, nullptr) != 1)
            continue;
        uint32_t serial = 0;
        libscca_volume_information_get_serial_number(volume, &serial, nullptr);
        const QString device = parserText(
            [volume](size_t *size) {
                return libscca_volume_information_get_utf16_device_path_size(volume, size, nullptr);
            },
            [volume](uint16_t *text, size_t size) {
                return libscca_volume_information_get_utf16_device_path(volume, text, size, nullptr);
            });
        record.volumes.append({device, serial});
        libscca_volume_information_free(&volume, nullptr);
    }
    return record;
}
} // namespace

std::optional<PrefetchRecord> readPrefetch(const QByteArray &data, const QString &scratchFolder, QString &error,
                                           QString *detail)
{
    const std::optional<QByteArray> plain = plainContent(data, error, detail);
    if (!plain)
        return std::nullopt;
    if (plain->size() < 8 || plain->mid(4, 4) != "SCCA") {
        error = QObject::tr("не файл Prefetch");
        return std::nullopt;
    }
    if (qFromLittleEndian<quint32>(plain->constData()) == 31)
        return readFormat31(*plain, error);
    return readWithLibrary(*plain, scratchFolder, error, detail);
}

QString prefetchDrivePath(const QString &path, const QVector<QPair<QString, quint32>> &volumes,
                          const QHash<quint32, QString> &drives)
{
    for (const auto &[device, serial] : volumes) {
        if (device.isEmpty() || !path.startsWith(device, Qt::CaseInsensitive) ||
            (path.size() > device.size() && path.at(device.size()) != QLatin1Char('\\')))
            continue;
        const QString drive = drives.value(serial);
        if (drive.isEmpty())
            return path;
        return drive + path.mid(device.size());
    }
    return path;
}
