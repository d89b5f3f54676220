#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileInfoList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QFile;

// File-system work whose safety depends on the system: removing folders the player may have laced
// with links, and the user's temporary folder.
namespace platform {

// Removes `path` and everything below it. A symbolic link or junction, at the top or at any depth,
// is removed as a link: what it points to, which may be anywhere on the machine, is never entered.
// True when nothing is left at `path` (also when there was nothing).
bool removeTree(const QString &path);

// The user's temporary folder, where the downloads are written and unpacked; empty when no safe one
// can be had.
QString temporaryFolder();

enum class FolderAccess { Missing, Denied, Readable };
// Whether the folder `path` is there and its entries can be listed by this user.
FolderAccess folderAccess(const QString &path);

// Opens `file` (named already) for reading only when it is a regular file: a FIFO, a device or a
// socket planted under an expected name is refused without waiting for a writer. False with the
// reason in `error`.
bool openRegularFile(QFile &file, QString &error);

// How a bounded read of a player's file ended.
enum class ReadEnd { Whole, NotOpened, TooLarge, Failed };

// Reads the regular file at `path` (opened as openRegularFile does) in pieces, handing each to
// `piece`, and stops past `limit` bytes, measured before and counted while reading, since the file may
// grow meanwhile. A piece refused by `piece` ends the read as Failed. `error` holds the system's
// reason when the file did not open or a read failed.
ReadEnd readRegularFile(const QString &path, qint64 limit, const std::function<bool(const char *, qint64)> &piece,
                        QString &error);

// The same, the whole file into `content`.
ReadEnd readWholeFile(const QString &path, qint64 limit, QByteArray &content, QString &error);

// The most entries of one folder a listing of the player's takes: more are made to bury something.
constexpr int kLargestFolderListing = 100000;

// The files directly in `folder`, hidden and system ones too, whose names match `nameFilters` (all
// when empty), at most kLargestFolderListing of them, sorted by name; `cut` tells whether there were
// more.
QFileInfoList listFiles(const QString &folder, const QStringList &nameFilters, bool &cut);

// What every name of one file shares (its device and inode, or its volume and file index), so that
// a file spelled many ways or linked under many names is read once; empty when it cannot be had.
QString fileIdentity(const QString &path);

// `files` with each file kept once, by its identity, the first name that leads to it (by the list's
// order) standing for the others: a hard link, a junction or a second name costs nothing. `seen` holds
// the identities met so far (also by earlier lists) and gains these. Files whose identity cannot be
// had are kept.
QFileInfoList distinctFiles(const QFileInfoList &files, QSet<QString> &seen);

// When the file at `path` itself was last written, in UTC; invalid when it cannot be read. A
// shortcut's own time, where Qt would give its target's.
QDateTime lastWritten(const QString &path);

// The owner of the file at `path`: "DOMAIN\user" on Windows, the user's name elsewhere; empty when it
// cannot be read.
QString fileOwner(const QString &path);

} // namespace platform
