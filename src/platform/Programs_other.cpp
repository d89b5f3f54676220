#include "platform/Programs.h"

#include <QDir>
#include <QFile>

namespace platform {

// Elsewhere a bare name is looked up in PATH only and a downloaded file has no exec bit, so the
// tool is made executable and named by its full path.
QString unpackerProgram(const QString &folder)
{
    const QString path = folder + QStringLiteral("/unzip.exe");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

// A bare name would be looked up in PATH only, never in the working directory where the archive was
// unpacked, so the path is made absolute against it.
QString toolProgram(const QString &relativePath)
{
    return QDir::current().absoluteFilePath(relativePath);
}

// The desktop's own opener stands in for the Windows file manager.
QString fileManagerProgram()
{
    return QStringLiteral("xdg-open");
}

} // namespace platform
