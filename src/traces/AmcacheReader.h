#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <atomic>

// Amcache (Windows' inventory of program files and drivers, %SystemRoot%\AppCompat\Programs\Amcache.hve):
// what ran or was installed, with its SHA-1, kept after the file is gone.
struct AmcacheEntry
{
    bool driver = false; // InventoryDriverBinary, else a program file
    QString path;
    QString sha1;          // lower-case hex; empty when none was kept
    QDateTime recorded;    // the key's last written time: when Windows recorded the file, not a run
    QDateTime modified;    // the older layout's file modification time (value 17); invalid otherwise
    qint64 size = -1;      // as recorded; -1 when not
    QString publisher;     // Publisher, or a driver's DriverCompany
    QString linkDate;      // the linker's date as kept ("MM/dd/yyyy HH:mm:ss")
    int driverSigned = -1; // DriverSigned: 1 or 0; -1 when not kept
};

struct Amcache
{
    QVector<AmcacheEntry> entries;
    bool cut = false;       // more entries than kLargestAmcache, or out of time: the first ones are kept
    bool unflushed = false; // the sequence numbers differ: the newest records may sit only in the logs
    QString layouts;        // "InventoryApplicationFile", "File", both, or empty
};

// The most entries one hive yields; a gaming PC's has a few thousand.
constexpr int kLargestAmcache = 100000;
// Amcache's SHA-1 covers at most a file's first this many bytes: for larger files it is not the file's.
constexpr qint64 kAmcacheHashedBytes = 31457280;

// Whether Amcache's SHA-1 of a file it recorded as `size` bytes (-1: size not recorded) is the file's.
constexpr bool amcacheSha1IsWhole(qint64 size)
{
    return size <= kAmcacheHashedBytes;
}

// Reads the hive file at `path` (a private copy of ours) with libregf, within `seconds`; false with the
// reason in the examiner's words and the library's own in `detail` when it is no hive.
bool readAmcache(const QString &path, Amcache &amcache, QString &reason, QString *detail = nullptr, int seconds = 20,
                 const std::atomic<bool> *stop = nullptr);
