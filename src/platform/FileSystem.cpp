#include "platform/FileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace platform {
namespace {
bool isLink(const QFileInfo &info)
{
    return info.isSymLink() || info.isJunction();
}

// A link to a folder is a folder entry on Windows (removed with rmdir) and a file elsewhere.
bool removeEntry(const QString &path)
{
    if (QFile::remove(path) || QDir().rmdir(path))
        return true;
    // A read-only file cannot be deleted on Windows until it is writable.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteUser);
    return QFile::remove(path);
}
} // namespace

bool removeTree(const QString &path)
{
    // Iterative: a deep tree costs heap, not stack. Folders are listed parents first and removed in
    // the reverse order, children first. Whatever cannot go keeps its folders and so the top one:
    // what is left at `path` tells the outcome.
    QStringList pending{path};
    QStringList folders;
    while (!pending.isEmpty()) {
        const QString current = pending.takeLast();
        const QFileInfo info(current);
        if (!isLink(info) && info.isDir()) {
            folders.append(current);
            QDirIterator entries(current, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            while (entries.hasNext())
                pending.append(entries.next());
        } else if (isLink(info) || info.exists()) {
            removeEntry(current);
        }
    }
    for (auto folder = folders.crbegin(); folder != folders.crend(); ++folder)
        QDir().rmdir(*folder);
    const QFileInfo left(path);
    return !left.exists() && !left.isSymLink();
}

} // namespace platform
