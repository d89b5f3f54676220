#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// The application compatibility cache (the registry value AppCompatCache): every executable the shell
// looked at, with the file's modification time as the cache kept it, in the cache's order (0 is the
// most recent).
struct CompatCacheEntry
{
    QString path;
    QDateTime modified; // the file's last modification, not a run time; invalid when none was kept
    int position = 0;
};

struct CompatCache
{
    QVector<CompatCacheEntry> entries;
    QString layout;  // "Windows 10/11", "Windows 8.1", "Windows 8", "Windows 7"
    QString problem; // an unknown layout, or an entry cut or out of place: the entries before it are kept
};

// The most entries one cache holds: Windows keeps 1,024.
constexpr int kLargestCompatCache = 4096;

// Decodes the value's bytes in the layouts of Windows 10 and 11 (a header of 0x30 or 0x34 bytes, then
// "10ts" entries), 8 and 8.1 (a 0x80-byte header, "00ts" or "10ts" entries) and 7 64-bit (signature
// 0xbadc0fee, 48-byte entries naming their paths by offset).
CompatCache readCompatCache(const QByteArray &value);
