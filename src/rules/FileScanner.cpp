#include "rules/FileScanner.h"

#include "rules/PathPlaceholders.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <utility>
#include <vector>

FileScanner::FileScanner(QObject *parent) : QObject(parent) {}

QStringList FileScanner::scanFolder(const QString &root, const QString &pattern)
{
    const QString folder = expandPath(root, true);
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    QStringList hits;
    if (!expression.isValid() || !QFileInfo(folder).isDir())
        return hits;
    // The folder's default listing: all entries but hidden and system ones, "." and ".." included, in
    // name order without regard to case. Only the hits are sorted: the order is the same as filtering
    // the sorted listing, and sorting every entry of a large folder costs most of the time.
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries, QDir::Unsorted);
    std::vector<std::pair<QString, const QFileInfo *>> matched;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (expression.match(name).hasMatch())
            matched.emplace_back(name.toLower(), &entry);
    }
    std::sort(matched.begin(), matched.end(),
              [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    hits.reserve(static_cast<int>(matched.size()));
    for (const auto &hit : matched)
        hits.append(hit.second->absoluteFilePath());
    return hits;
}

bool FileScanner::registryKeyExists(const QString &subKey, HKEY hive)
{
    return platform::registryKeyExists(hive, subKey);
}
