#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Windows' trace files written from their published layouts, for the tests and benchmarks.

// A Prefetch file of `format` (17, 23, 26, 30 or 31) for `executable`, run `runs` times (the last at
// `lastRun`, each earlier one an hour before), that loaded `files` from one volume `device` whose
// serial number is `serial`.
QByteArray prefetchFile(const QDateTime &lastRun, quint32 format, const QString &executable, int runs,
                        const QStringList &files,
                        const QString &device = QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}"),
                        quint32 serial = 0x1A2B3C4D);

// `plain` compressed as Windows 10 and later compress Prefetch files ("MAM\x04", Xpress Huffman), with
// literals only; at most 64 KiB (one block).
QByteArray compressedPrefetch(const QByteArray &plain);

// A shortcut to `localPath` on a drive of `driveType` (2 removable, 3 fixed, 5 CD), or to `suffix`
// on the share `netName`; with neither, a shortcut without LinkInfo.
QByteArray shortcutFile(const QByteArray &localPath, quint32 driveType, const QByteArray &netName = {},
                        const QByteArray &suffix = {});

// One NTFS change journal record (USN_RECORD_V2 for `version` 2, V3 for 3) of the file `file` in the
// folder `parent`, padded to 8 bytes as the journal writes it.
QByteArray usnRecord(int version, quint64 file, quint64 parent, const QDateTime &time, quint32 reasons,
                     const QString &name);

// A 64-bit native PE image (a driver's layout) with one section holding `payload` (at most 4 KiB),
// its size a multiple of eight, as signing tools take it unpadded.
QByteArray peImage(const QByteArray &payload);

// An AppCompatCache value in the layout of Windows `layout` (10 for 10 and 11, 81 for 8.1, 8, or 7
// for 7 64-bit) naming `paths` in order, the first modified at `modified` and each next one a
// minute earlier.
QByteArray compatCacheValue(int layout, const QStringList &paths, const QDateTime &modified);

// `time` as a FILETIME's 8 bytes (100 ns steps since 1601, little-endian).
QByteArray fileTimeBytes(const QDateTime &time);

// `data` as a registry export writes a value of the type `type` ("hex", "hex(ffff0010)"):
// "hex:0a,1b,…".
QByteArray registryHex(const QByteArray &data, const char *type = "hex");
