#include "FolderLink.h"

#include <QDir>

#include <qt_windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace {
// The mount-point reparse data of a junction, as the file system control code takes it.
struct MountPointBuffer
{
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    // the substitute name ("\??\C:\…") and the print name follow, each with its terminating zero
};
} // namespace

bool makeFolderLink(const QString &link, const QString &target, QString &error)
{
    const std::wstring path = QDir::toNativeSeparators(link).toStdWString();
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        error = QStringLiteral("CreateDirectoryW: %1").arg(GetLastError());
        return false;
    }
    const std::wstring substitute = L"\\??\\" + QDir::toNativeSeparators(QDir(target).absolutePath()).toStdWString();
    const std::wstring print = QDir::toNativeSeparators(QDir(target).absolutePath()).toStdWString();
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD printBytes = static_cast<WORD>(print.size() * sizeof(wchar_t));
    std::vector<char> buffer(sizeof(MountPointBuffer) + substituteBytes + printBytes + 2 * sizeof(wchar_t), 0);
    auto *header = reinterpret_cast<MountPointBuffer *>(buffer.data());
    header->tag = IO_REPARSE_TAG_MOUNT_POINT;
    header->dataLength = static_cast<WORD>(buffer.size() - 8); // less the tag and the two length fields
    header->substituteOffset = 0;
    header->substituteLength = substituteBytes;
    header->printOffset = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    header->printLength = printBytes;
    char *names = buffer.data() + sizeof(MountPointBuffer);
    std::memcpy(names, substitute.data(), substituteBytes);
    std::memcpy(names + header->printOffset, print.data(), printBytes);
    const HANDLE folder = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        error = QStringLiteral("CreateFileW: %1").arg(GetLastError());
        return false;
    }
    DWORD returned = 0;
    const bool made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, 0, &returned, nullptr);
    if (!made)
        error = QStringLiteral("FSCTL_SET_REPARSE_POINT: %1").arg(GetLastError());
    CloseHandle(folder);
    return made;
}
