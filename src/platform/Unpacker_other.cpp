#include "platform/Unpacker.h"

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

} // namespace platform
