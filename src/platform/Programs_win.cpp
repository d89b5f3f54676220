#include "platform/Programs.h"

#include <QDir>
#include <QProcess>

#include <qt_windows.h>

namespace platform {
namespace {
using FolderQuery = UINT(WINAPI *)(LPWSTR, UINT);

// A folder of Windows itself, asked of the system rather than of the environment the player controls.
QString windowsFolder(FolderQuery query)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = query(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return QStringLiteral("C:\\Windows");
    return QString::fromWCharArray(buffer, static_cast<int>(length));
}
} // namespace

QString unpackerProgram(const QString &folder)
{
    return QDir::toNativeSeparators(folder + QStringLiteral("/unzip.exe"));
}

QString toolProgram(const QString &relativePath)
{
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(relativePath));
}

// explorer.exe lives in the Windows folder itself, not in System32.
QString fileManagerProgram()
{
    return windowsFolder(GetSystemWindowsDirectoryW) + QStringLiteral("\\explorer.exe");
}

void endProgram(const QString &image)
{
    QProcess::startDetached(windowsFolder(GetSystemDirectoryW) + QStringLiteral("\\taskkill.exe"),
                            {QStringLiteral("/im"), image, QStringLiteral("/f")});
}

} // namespace platform
