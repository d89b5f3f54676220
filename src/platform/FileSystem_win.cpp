#include "platform/FileSystem.h"

#include <QDir>
#include <QStandardPaths>

#include <qt_windows.h>

namespace platform {

// The user's own %TEMP%, private to the account by its access rights.
QString temporaryFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

// Qt does not tell a folder it may not list from an empty one; the system does.
FolderAccess folderAccess(const QString &path)
{
    const std::wstring pattern = QDir::toNativeSeparators(path + QStringLiteral("/*")).toStdWString();
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return FolderAccess::Readable;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        return FolderAccess::Denied;
    return error == ERROR_FILE_NOT_FOUND ? FolderAccess::Readable : FolderAccess::Missing;
}

} // namespace platform
