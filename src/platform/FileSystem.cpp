#include "platform/FileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>

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

ReadEnd readRegularFile(const QString &path, qint64 limit, const std::function<bool(const char *, qint64)> &piece,
                        QString &error)
{
    QFile file(path);
    if (!openRegularFile(file, error))
        return ReadEnd::NotOpened;
    if (file.size() > limit)
        return ReadEnd::TooLarge;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0) {
            error = file.errorString();
            return ReadEnd::Failed;
        }
        if (read == 0)
            return ReadEnd::Whole;
        total += read;
        if (total > limit)
            return ReadEnd::TooLarge;
        if (!piece(buffer.constData(), read))
            return ReadEnd::Failed;
    }
}

QFileInfoList listFiles(const QString &folder, const QStringList &nameFilters, bool &cut)
{
    QDirIterator entries(folder, nameFilters, QDir::Files | QDir::Hidden | QDir::System);
    QFileInfoList files;
    cut = false;
    while (entries.hasNext()) {
        if (files.size() == kLargestFolderListing) {
            cut = true;
            break;
        }
        entries.next();
        files.append(entries.fileInfo());
    }
    // By name, whatever order the file system keeps.
    std::sort(files.begin(), files.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    return files;
}

QFileInfoList distinctFiles(const QFileInfoList &files, QSet<QString> &seen)
{
    QFileInfoList distinct;
    for (const QFileInfo &file : files) {
        const QString identity = fileIdentity(file.filePath());
        if (identity.isEmpty() || !seen.contains(identity)) {
            seen.insert(identity);
            distinct.append(file);
        }
    }
    return distinct;
}

ReadEnd readWholeFile(const QString &path, qint64 limit, QByteArray &content, QString &error)
{
    content.clear();
    return readRegularFile(
        path, limit,
        [&content](const char *piece, qint64 size) {
            content.append(piece, static_cast<int>(size));
            return true;
        },
        error);
}

} // namespace platform
