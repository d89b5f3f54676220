#include "platform/Programs.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace platform {

// Elsewhere a bare name is looked up in PATH only and a downloaded file has no exec bit, so the
// tool is made executable and named by its full path.
QString unpackerProgram(const QString &folder)
{
    const QString path = folder + QStringLiteral("/unzip.exe");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

QString toolProgram(const QString &relativePath)
{
    return QDir::current().absoluteFilePath(relativePath);
}

// The desktop's own opener stands in for the Windows file manager.
QString fileManagerProgram()
{
    return QStringLiteral("xdg-open");
}

// There is no taskkill here: one found in PATH stands in for it (the demo and the tests put one there).
// Without one nothing is started: starting a process copies this one's memory map, for nothing.
void endProgram(const QString &image)
{
    const QString taskkill = QStandardPaths::findExecutable(QStringLiteral("taskkill"));
    if (!taskkill.isEmpty())
        QProcess::startDetached(taskkill, {QStringLiteral("/im"), image, QStringLiteral("/f")});
}

} // namespace platform
