#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What one Prefetch file may expand into: real ones name a few hundred loaded files on one or two
// volumes; a device path is at most Windows' longest path.
constexpr int kLargestPrefetchNames = 8192;
constexpr int kLargestPrefetchVolumes = 16;
constexpr int kLongestVolumePath = 32768;

// What a Prefetch file records of one program.
struct PrefetchRecord
{
    quint32 format = 0;          // 17, 23, 26, 30 or 31
    QString executable;          // the program's file name as the file records it
    QVector<QDateTime> runTimes; // UTC, newest first, at most 8
    quint32 runCount = 0;
    QStringList files;                        // as recorded: "\VOLUME{…}\…" or "\DEVICE\HARDDISKVOLUME2\…"
    QVector<QPair<QString, quint32>> volumes; // each volume's device path and serial number
    // More names or volumes than the limits above: the first are kept. Each name is kept once.
    bool filesCut = false;
    bool volumesCut = false;
};

// Reads the Prefetch file whose whole content is `data`, compressed (Windows 10 and later) or not.
// The library that reads the formats opens files only, so the plain content is written to a file of
// its own in `scratchFolder` (ours, never the player's) for the time of the read. Format 31, which
// the library does not know, is read here from its published layout. Empty, with `error` set, when
// `data` is not a Prefetch file that can be read: `error` in the examiner's words, `detail` (when
// given) the parsing library's own.
std::optional<PrefetchRecord> readPrefetch(const QByteArray &data, const QString &scratchFolder, QString &error,
                                           QString *detail = nullptr);

// A referenced file's path with its volume turned into the drive that volume is mounted at: the
// device path of `volumes` that starts it, whose serial number `drives` names (e.g. 0x1A2B3C4D → "C:").
// The device path matches at a component boundary only. Unchanged when its volume is not known.
QString prefetchDrivePath(const QString &path, const QVector<QPair<QString, quint32>> &volumes,
                          const QHash<quint32, QString> &drives);
