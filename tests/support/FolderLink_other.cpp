#include "FolderLink.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool makeFolderLink(const QString &link, const QString &target, QString &error)
{
    if (symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0)
        return true;
    error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
