#include "scan/FileScanner.h"

#include "scan/PathPlaceholders.h"

#include <QDir>
#include <QRegularExpression>

FileScanner::FileScanner(QObject *parent) : QObject(parent)
{
}

QStringList FileScanner::scanFolder(const QString &root, const QString &pattern)
{
    const QString folder = expandPath(root, true);
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    QStringList hits;
    if (!expression.isValid() || !QFileInfo(folder).isDir())
        return hits;
    // The folder's default listing: all entries but hidden and system ones, "." and ".." included,
    // sorted by name without regard to case.
    const QFileInfoList entries = QDir(folder).entryInfoList();
    for (const QFileInfo &entry : entries) {
        if (expression.match(entry.fileName()).hasMatch())
            hits.append(entry.absoluteFilePath());
    }
    return hits;
}

bool FileScanner::registryKeyExists(const QString &subKey, HKEY hive)
{
    return platform::registryKeyExists(hive, subKey);
}
