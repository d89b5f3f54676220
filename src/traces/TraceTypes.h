#pragma once

#include <QDateTime>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

// What every part of the traces shares: the rows, the collection they make up, and the machine a
// collection looks at.

// What the traces say of a program's file now.
enum class TraceState { Present, Deleted, NameOnly, Recycled, Created, Renamed };

// What a row's time is: a run (or opening), a file's modification as a cache kept it (the compatibility
// cache), or when Windows recorded the file (Amcache: installed programs' files are recorded unrun).
enum class TraceTimeKind { Run, Modified, Recorded };

// Where a file lay, as a shortcut's volume information says.
enum class TraceMedium { Fixed, Removable, Network, Disc };

// A file that a trace says its program loaded.
struct TraceFile
{
    QString path;   // a drive path where the volume is known
    QString sha256; // when hashed: present, outside the Windows folder and small enough
};

// One program that a trace of Windows says ran (or was opened).
struct TraceRow
{
    QDateTime time;   // UTC; invalid when the trace keeps none
    QString path;     // as recorded (device names turned into drive letters), or only a name
    QString fileName; // the last component of the path
    QString source;
    TraceState state = TraceState::NameOnly;
    QString sha256; // of a file that is there and small enough, lower-case hex
    bool matched = false;
    QString ruleDescription; // the matching rule's plain-text description
    int ruleLevel = 0;
    QString matchedFile; // the loaded file the rule matched, when it was not the program itself
    // What a Prefetch file keeps: the runs before `time` (newest first), the count of runs (0 when no
    // trace keeps one) and every file the program loaded.
    QVector<QDateTime> earlierRuns;
    int runCount = 0;
    QVector<TraceFile> loaded;
    QString storedAt;                        // where a file in the Recycle Bin lies now (its "$R" file)
    TraceMedium medium = TraceMedium::Fixed; // where a shortcut's target lay
    QString renamedTo;                       // the new name of a file the change journal saw renamed
    TraceTimeKind timeKind = TraceTimeKind::Run;
    int cachePosition = -1; // its place in the compatibility cache, 0 the most recent
    // A USB storage device's first install, last install, last arrival and last removal (invalid when
    // not kept); empty for other rows.
    QVector<QDateTime> deviceTimes;
    QString threat; // the name Windows Defender gave what it caught in this file
    // Amcache's SHA-1 of the file (of its first 30 MiB, for larger ones), lower-case hex; the size it
    // recorded (-1 when none); whether the row is a driver's; and what else it recorded, as lines.
    QString sha1;
    qint64 recordedSize = -1;
    bool driver = false;
    QStringList recordedFacts;
};

// One collection: the rows, the red signs of wiped or disabled traces, the orange notices that ask the
// examiner to look, the sources that could not be read for lack of rights, and what could not be read
// in full for any other reason.
struct TraceCollection
{
    QDateTime collected;
    QVector<TraceRow> rows;
    QStringList signs;
    QStringList notices;
    QStringList unreadable;
    QStringList notRead;      // "<source> (<path>): <reason>"
    QStringList parserErrors; // the parsing libraries' own words of why, for the report
    QStringList gameLoaded;   // files the game loaded from outside its own and the system's folders

    int matchCount() const;
};
Q_DECLARE_METATYPE(TraceCollection)

// Where a collection looks and what it knows of the system's start. `current` asks the system.
struct TraceMachine
{
    QString windowsFolder; // holds Prefetch and appcompat\pca; empty when unknown
    QString appDataFolder; // the user's roaming application data, holding the Recent items
    QDateTime bootTime;    // invalid when unknown
    QDateTime now;
    QStringList gameImages; // the game's program names besides csgo.exe, any letter case
    // Where the game may load files from without a sign: the game's, Steam's, Windows' and the
    // Program Files folders.
    QStringList ownFolders;
    QHash<quint32, QString> volumeDrives; // a volume's serial number → its drive ("C:")
    QStringList fixedDrives;              // their roots, each with a Recycle Bin
    QStringList gameFolders = {};         // the game's and Steam's folders

    // The system's facts, with the game's images and the game's and Steam's folders as the content
    // and the folder discovery know them.
    static TraceMachine current(const QStringList &gameImages = {}, const QStringList &gameFolders = {});
};

// The state's caption: "есть", "удалён", "в корзине", "создан", "переименован" or "—".
QString traceStateText(TraceState state);
// The state as the check report writes it: "present", "deleted", "recycled", "created", "renamed" or
// "name"; and back (anything else reads as only a name).
QString traceStateName(TraceState state);
TraceState traceStateFromName(const QString &name);

// The time kind as the report writes it: empty for a run, "modified" or "recorded"; and back.
QString traceTimeKindName(TraceTimeKind kind);
TraceTimeKind traceTimeKindFromName(const QString &name);
// What the report's time cell adds to a time of the kind: empty, " (изменение файла)" or " (запись Amcache)".
QString traceTimeKindCaption(TraceTimeKind kind);

// The medium's caption: "съёмный", "сетевой", "CD" or empty for a fixed disk; as the check report
// writes it: "removable", "network", "cd" or empty; and back.
QString traceMediumText(TraceMedium medium);
QString traceMediumName(TraceMedium medium);
TraceMedium traceMediumFromName(const QString &name);
