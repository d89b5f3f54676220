#include "platform/FileSystem.h"
#include "platform/WindowsError.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStandardPaths>

#include <qt_windows.h>
// After the system's own header, which it needs.
#include <aclapi.h>
#include <sddl.h>

#include <mutex>

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

namespace {
struct Handle
{
    HANDLE value;
    ~Handle()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
};

HANDLE openForQuery(const QString &path, DWORD access)
{
    return CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
} // namespace

// Names such as CON, NUL, COM1 or a pipe open devices, not files: the type of what opened decides.
// The file is then opened by Qt as usual, so that a lock without read sharing is reported by name.
bool openRegularFile(QFile &file, QString &error)
{
    const Handle probe{openForQuery(file.fileName(), FILE_READ_ATTRIBUTES)};
    if (probe.value == INVALID_HANDLE_VALUE) {
        error = systemMessage(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (GetFileType(probe.value) != FILE_TYPE_DISK || !GetFileInformationByHandle(probe.value, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = QStringLiteral("not a regular file");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    return true;
}

QString fileIdentity(const QString &path)
{
    const Handle file{openForQuery(path, FILE_READ_ATTRIBUTES)};
    BY_HANDLE_FILE_INFORMATION information = {};
    if (file.value == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.value, &information))
        return QString();
    return QStringLiteral("%1:%2:%3")
        .arg(information.dwVolumeSerialNumber)
        .arg(information.nFileIndexHigh)
        .arg(information.nFileIndexLow);
}

QDateTime lastWritten(const QString &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                              GetFileExInfoStandard, &data))
        return QDateTime();
    // 100 ns steps since 1601.
    const quint64 ticks = (quint64(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    if (ticks == 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64(ticks / 10000) - 11644473600000LL, Qt::UTC);
}

QString fileOwner(const QString &path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return QString();
    // An account lookup may ask a domain controller: each owner is asked for once.
    static std::mutex mutex;
    static QHash<QString, QString> names;
    QString sid;
    wchar_t *sidText = nullptr;
    if (owner && ConvertSidToStringSidW(owner, &sidText)) {
        sid = QString::fromWCharArray(sidText);
        LocalFree(sidText);
    }
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = names.constFind(sid);
    if (!sid.isEmpty() && known != names.cend()) {
        LocalFree(descriptor);
        return *known;
    }
    wchar_t account[256];
    wchar_t domain[256];
    DWORD accountSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    QString found;
    if (owner && LookupAccountSidW(nullptr, owner, account, &accountSize, domain, &domainSize, &use))
        found = QString::fromWCharArray(domain) + QLatin1Char('\\') + QString::fromWCharArray(account);
    LocalFree(descriptor);
    if (!sid.isEmpty())
        names.insert(sid, found);
    return found;
}

QString systemMessage(unsigned long code)
{
    wchar_t *text = nullptr;
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text, static_cast<int>(size)).trimmed();
    LocalFree(text);
    return message.isEmpty() ? QStringLiteral("error %1").arg(code) : message;
}

} // namespace platform
