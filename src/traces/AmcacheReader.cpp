#include "traces/AmcacheReader.h"

#include "traces/ParserCopy.h"
#include "traces/TraceDecoders.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QRegularExpression>

#include <libregf.h>

#include <memory>

namespace {
struct Key
{
    libregf_key_t *key = nullptr;
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key()
    {
        if (key)
            libregf_key_free(&key, nullptr);
    }
};

struct Value
{
    libregf_value_t *value = nullptr;
    ~Value()
    {
        if (value)
            libregf_value_free(&value, nullptr);
    }
};

QDateTime fromFileTime(quint64 ticks)
{
    // Before 1980 or past 2100 is no time Windows wrote.
    constexpr quint64 k1980 = 119600064000000000ULL;
    constexpr quint64 k2100 = 157469184000000000ULL;
    return ticks < k1980 || ticks > k2100 ? QDateTime() : traces::fileTime(ticks);
}

Value valueOf(libregf_key_t *key, const char *name)
{
    Value value;
    if (libregf_key_get_value_by_utf8_name(key, reinterpret_cast<const uint8_t *>(name), strlen(name), &value.value,
                                           nullptr) != 1)
        value.value = nullptr;
    return value;
}

QString textOf(libregf_key_t *key, const char *name)
{
    const Value value = valueOf(key, name);
    uint32_t type = 0;
    if (!value.value || libregf_value_get_value_type(value.value, &type, nullptr) != 1 ||
        (type != LIBREGF_VALUE_TYPE_STRING && type != LIBREGF_VALUE_TYPE_EXPANDABLE_STRING))
        return QString();
    libregf_value_t *handle = value.value;
    return parserText(
        [handle](size_t *size) { return libregf_value_get_value_utf16_string_size(handle, size, nullptr); },
        [handle](uint16_t *text, size_t size) {
            return libregf_value_get_value_utf16_string(handle, text, size, nullptr);
        });
}

qint64 numberOf(libregf_key_t *key, const char *name)
{
    const Value value = valueOf(key, name);
    uint32_t type = 0;
    if (!value.value || libregf_value_get_value_type(value.value, &type, nullptr) != 1)
        return -1;
    if (type == LIBREGF_VALUE_TYPE_INTEGER_32BIT_LITTLE_ENDIAN) {
        uint32_t number = 0;
        return libregf_value_get_value_32bit(value.value, &number, nullptr) == 1 ? qint64(number) : -1;
    }
    if (type == LIBREGF_VALUE_TYPE_INTEGER_64BIT_LITTLE_ENDIAN) {
        uint64_t number = 0;
        return libregf_value_get_value_64bit(value.value, &number, nullptr) == 1 && number <= uint64_t(LLONG_MAX)
                   ? qint64(number)
                   : -1;
    }
    return -1;
}

// Opens the sub-key `index` of `key` into `sub`; false for one that does not parse.
bool openSubKey(libregf_key_t *key, int index, Key &sub)
{
    if (libregf_key_get_sub_key(key, index, &sub.key, nullptr) == 1)
        return true;
    sub.key = nullptr;
    return false;
}

QString nameOf(libregf_key_t *key)
{
    return parserText(
        [key](size_t *size) { return libregf_key_get_utf16_name_size(key, size, nullptr); },
        [key](uint16_t *text, size_t size) { return libregf_key_get_utf16_name(key, text, size, nullptr); });
}

QDateTime writtenOf(libregf_key_t *key)
{
    uint64_t ticks = 0;
    return libregf_key_get_last_written_time(key, &ticks, nullptr) == 1 ? fromFileTime(ticks) : QDateTime();
}

// "0000" and 40 hex digits, as Windows writes a file's id; anything else keeps no digest.
QString sha1Of(const QString &fileId)
{
    static const QRegularExpression id(QStringLiteral("^(?:0000)?([0-9a-fA-F]{40})$"));
    const QRegularExpressionMatch match = id.match(fileId.trimmed());
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

class Walk
{
public:
    Walk(Amcache &amcache, int seconds, const std::atomic<bool> *stop)
        : amcache(amcache), deadline(seconds * 1000), stop(stop)
    {
    }

    // Every sub-key of `key`, handed to `visit`, until the hive's bound or the time is spent. Past
    // kMostDamagedKeys keys that do not parse the rest is not asked: libregf keeps some memory of each.
    template <typename Visit> void eachSubKey(libregf_key_t *key, Visit visit)
    {
        int count = 0;
        if (libregf_key_get_number_of_sub_keys(key, &count, nullptr) != 1)
            return;
        for (int i = 0; i < count; ++i) {
            if (amcache.entries.size() >= kLargestAmcache || damagedKeys >= kMostDamagedKeys || deadline.hasExpired() ||
                (stop && *stop)) {
                amcache.cut = true;
                return;
            }
            Key sub;
            if (openSubKey(key, i, sub))
                visit(sub.key);
            else
                ++damagedKeys;
        }
    }

    void applicationFile(libregf_key_t *key)
    {
        AmcacheEntry entry;
        entry.path = QDir::toNativeSeparators(textOf(key, "LowerCaseLongPath"));
        if (entry.path.isEmpty())
            return;
        entry.sha1 = sha1Of(textOf(key, "FileId"));
        entry.recorded = writtenOf(key);
        entry.size = numberOf(key, "Size");
        entry.publisher = textOf(key, "Publisher");
        entry.linkDate = textOf(key, "LinkDate");
        amcache.entries.append(entry);
    }

    void driverBinary(libregf_key_t *key)
    {
        AmcacheEntry entry;
        entry.driver = true;
        // The key is named by the driver's path, its separators turned to "/".
        entry.path = QDir::toNativeSeparators(nameOf(key).replace(QLatin1Char('/'), QLatin1Char('\\')));
        if (entry.path.isEmpty())
            entry.path = textOf(key, "DriverName");
        if (entry.path.isEmpty())
            return;
        entry.sha1 = sha1Of(textOf(key, "DriverId"));
        entry.recorded = writtenOf(key);
        entry.driverSigned = static_cast<int>(qBound<qint64>(-1, numberOf(key, "DriverSigned"), 1));
        entry.publisher = textOf(key, "DriverCompany");
        amcache.entries.append(entry);
    }

    // The older layout: Root\File\{volume}\{id}, values 15 (path), 101 (SHA-1), 17 (modified), 6 (size).
    void olderFile(libregf_key_t *key)
    {
        AmcacheEntry entry;
        entry.path = textOf(key, "15");
        if (entry.path.isEmpty())
            return;
        entry.sha1 = sha1Of(textOf(key, "101"));
        entry.recorded = writtenOf(key);
        const qint64 modified = numberOf(key, "17");
        if (modified > 0)
            entry.modified = fromFileTime(static_cast<quint64>(modified));
        entry.size = numberOf(key, "6");
        amcache.entries.append(entry);
    }

private:
    static constexpr int kMostDamagedKeys = 1000;
    int damagedKeys = 0;
    Amcache &amcache;
    QDeadlineTimer deadline;
    const std::atomic<bool> *stop;
};

// The key at `path` (components below the root, separated by "\\"), found by walking the sub-keys by
// name: libregf's own lookup by path leaks on some damaged hives.
bool keyAt(libregf_file_t *file, const char *path, Key &key)
{
    if (libregf_file_get_root_key(file, &key.key, nullptr) != 1) {
        key.key = nullptr;
        return false;
    }
    for (const QString &component : QString::fromLatin1(path).split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        int count = 0;
        if (libregf_key_get_number_of_sub_keys(key.key, &count, nullptr) != 1)
            return false;
        bool found = false;
        // The keys looked for sit among a handful of siblings; a planted crowd is not searched through.
        for (int i = 0; i < count && i < 4096 && !found; ++i) {
            Key sub;
            if (openSubKey(key.key, i, sub) && nameOf(sub.key).compare(component, Qt::CaseInsensitive) == 0) {
                std::swap(key.key, sub.key);
                found = true;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

// The base block's two sequence numbers differ while a write is not yet flushed from the logs.
bool unflushed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    return head.size() == 12 && head.mid(4, 4) != head.mid(8, 4);
}
} // namespace

bool readAmcache(const QString &path, Amcache &amcache, QString &reason, QString *detail, int seconds,
                 const std::atomic<bool> *stop)
{
    libregf_file_t *opened = nullptr;
    libregf_error_t *error = nullptr;
    const auto fail = [&] {
        reason = QObject::tr("не файл реестра или повреждён");
        const QString cause = parserError(error, libregf_error_backtrace_sprint, libregf_error_free);
        if (detail)
            *detail = cause;
        if (opened)
            libregf_file_free(&opened, nullptr);
        return false;
    };
    if (libregf_file_initialize(&opened, &error) != 1)
        return fail();
#ifdef Q_OS_WIN
    if (libregf_file_open_wide(opened, QDir::toNativeSeparators(path).toStdWString().c_str(), LIBREGF_OPEN_READ,
                               &error) != 1)
        return fail();
#else
    if (libregf_file_open(opened, QFile::encodeName(path).constData(), LIBREGF_OPEN_READ, &error) != 1)
        return fail();
#endif
    const std::unique_ptr<libregf_file_t, void (*)(libregf_file_t *)> file(opened, [](libregf_file_t *f) {
        libregf_file_close(f, nullptr);
        libregf_file_free(&f, nullptr);
    });
    amcache.unflushed = unflushed(path);
    Walk walk(amcache, seconds, stop);
    QStringList layouts;
    {
        Key applications;
        if (keyAt(file.get(), "\\Root\\InventoryApplicationFile", applications)) {
            layouts.append(QStringLiteral("InventoryApplicationFile"));
            walk.eachSubKey(applications.key, [&walk](libregf_key_t *key) { walk.applicationFile(key); });
        }
    }
    {
        Key drivers;
        if (keyAt(file.get(), "\\Root\\InventoryDriverBinary", drivers))
            walk.eachSubKey(drivers.key, [&walk](libregf_key_t *key) { walk.driverBinary(key); });
    }
    {
        Key files;
        if (keyAt(file.get(), "\\Root\\File", files)) {
            layouts.append(QStringLiteral("File"));
            walk.eachSubKey(files.key, [&walk](libregf_key_t *volume) {
                walk.eachSubKey(volume, [&walk](libregf_key_t *key) { walk.olderFile(key); });
            });
        }
    }
    amcache.layouts = layouts.join(QStringLiteral(", "));
    // Every Amcache Windows wrote has one of the layouts: without either, nothing of it was read.
    if (layouts.isEmpty()) {
        reason = QObject::tr("не файл реестра или повреждён");
        if (detail)
            *detail = QStringLiteral("neither Root\\InventoryApplicationFile nor Root\\File");
        return false;
    }
    return true;
}
