#pragma once

#include <QString>

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

// What every name of one file shares (its device and inode, or its volume and file index), so that
// a file spelled many ways or linked under many names is read once; empty when it cannot be had.
QString fileIdentity(const QString &path);

// The owner of the file at `path`: "DOMAIN\user" on Windows, the user's name elsewhere; empty when it
// cannot be read.
QString fileOwner(const QString &path);

} // namespace platform
