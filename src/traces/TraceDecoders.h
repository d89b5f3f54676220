#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

#include <optional>

class QTextCodec;

// The pure parts of reading Windows' execution traces: each turns what the registry or a file holds
// into a program's path or name and a time, without touching the machine.
namespace traces {

// A FILETIME (100 ns steps since 1601, UTC) from the first 8 bytes at `offset` of `data`; invalid
// when the data is too short or the time is zero.
QDateTime fileTime(const QByteArray &data, int offset);
// The same from its value.
QDateTime fileTime(quint64 ticks);

// ROT13 of the letters A-Z and a-z; everything else stays.
QString rot13(const QString &text);

// `path` with a leading NT device name ("\Device\HarddiskVolume3\…") replaced by its drive letter from
// `devices` (device, drive) pairs; unchanged when no device matches.
QString dosPath(const QString &path, const QVector<QPair<QString, QString>> &devices);

// The program of a UserAssist value name after ROT13, with a leading known-folder identifier
// replaced by the folder `knownFolder` finds for it (an empty answer keeps the identifier).
template <typename KnownFolder> QString userAssistProgram(const QString &decodedName, KnownFolder knownFolder)
{
    if (!decodedName.startsWith(QLatin1Char('{')))
        return decodedName;
    const int close = decodedName.indexOf(QLatin1Char('}'));
    if (close < 0)
        return decodedName;
    const QString folder = knownFolder(decodedName.left(close + 1));
    return folder.isEmpty() ? decodedName : folder + decodedName.mid(close + 1);
}

// The program a Prefetch file is named after: "AIMBOT.EXE-1A2B3C4D.pf" gives "AIMBOT.EXE".
QString prefetchProgram(const QString &fileName);

// The program of a MUICache value name: the name less ".FriendlyAppName" or ".ApplicationCompany";
// empty for the cache's own entries (LangID, resource references starting with @).
QString muiCacheProgram(const QString &valueName);

// The lines "PATH|YYYY-MM-DD HH:MM:SS.fff" of PcaAppLaunchDic.txt, decoded by its byte-order mark
// (UTF-16LE), else as UTF-8 when valid, else in `ansi`. A line without a readable time keeps its path.
QVector<QPair<QString, QDateTime>> pcaLaunches(const QByteArray &content, QTextCodec *ansi);

// Whether `path` names a place on a drive ("C:\…", "\\server\…" or an absolute path of this system),
// rather than only a name.
bool isAbsoluteProgramPath(const QString &path);

// A Recycle Bin "$I" file: the deleted file's original path and the time it was deleted, in either
// layout (Vista to 8.1: version 1, a path of 260 characters; Windows 10 on: version 2, the path's
// length first). Empty when `data` is neither.
std::optional<QPair<QString, QDateTime>> recycledFile(const QByteArray &data);

// Whether `path` names a share ("\\server\…", "\\?\UNC\…") or a device ("\\.\…"): a place
// that is never asked, since an unreachable host or a pipe keeps the asker waiting. A drive path
// written "\\?\C:\…" is neither; "\\.\C:" is the volume itself, a device.
bool isShareOrDevicePath(const QString &path);

// The last component of a Windows or native path.
QString programFileName(const QString &path);

} // namespace traces

namespace traces {

// One record of the NTFS change journal (USN_RECORD_V2 or V3).
struct UsnRecord
{
    QByteArray file;   // the file's reference (8 bytes in V2, 16 in V3)
    QByteArray parent; // its folder's
    QDateTime time;
    quint32 reasons = 0; // USN_REASON_* bits
    QString name;
};

// The records of the journal's raw data `data`, one after another as the journal gives them (each
// 8-byte aligned, its length first). `broken` is set when a record's length or name does not fit,
// and the records before it are kept.
QVector<UsnRecord> usnRecords(const QByteArray &data, bool &broken);

} // namespace traces
