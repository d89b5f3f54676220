#pragma once

#include "platform/Registry.h"

#include <QObject>
#include <QStringList>

// The two tests a detection rule can ask for: the entries of one folder whose names match a pattern,
// and whether a registry key exists. Made for one task (a scan, a folder discovery) and discarded.
class FileScanner : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FileScanner)

public:
    explicit FileScanner(QObject *parent = nullptr);
    ~FileScanner() override = default;

    // Absolute paths (forward slashes) of the entries directly in the expanded `root` whose names
    // contain a case-insensitive match of the Perl-compatible `pattern`, in the folder's name order.
    // A missing folder or an invalid pattern gives nothing.
    QStringList scanFolder(const QString &root, const QString &pattern);

    // Whether `subKey` below `hive` can be opened for reading; the empty sub-key is the hive itself.
    bool registryKeyExists(const QString &subKey, HKEY hive);
};
