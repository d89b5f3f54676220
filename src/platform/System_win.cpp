#include "platform/System.h"

#include <QTextCodec>

#include <qt_windows.h>
#include <shlobj.h>

namespace platform {

QString knownFolderPath(const QString &guid)
{
    const std::wstring text = guid.toStdWString();
    GUID id;
    if (CLSIDFromString(text.c_str(), &id) != NOERROR)
        return QString();
    wchar_t *path = nullptr;
    QString result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        result = QString::fromWCharArray(path);
    CoTaskMemFree(path);
    return result;
}

QDateTime bootTime()
{
    return QDateTime::currentDateTimeUtc().addMSecs(-static_cast<qint64>(GetTickCount64()));
}

ServiceState serviceState(const QString &name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return ServiceState::Unknown;
    const std::wstring wide = name.toStdWString();
    ServiceState state = ServiceState::Unknown;
    if (SC_HANDLE service = OpenServiceW(manager, wide.c_str(), SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState == SERVICE_RUNNING ? ServiceState::Running : ServiceState::NotRunning;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

QVector<QPair<QString, QString>> driveDevices()
{
    QVector<QPair<QString, QString>> devices;
    wchar_t target[MAX_PATH + 1];
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[] = {letter, L':', 0};
        if (QueryDosDeviceW(drive, target, MAX_PATH + 1) != 0)
            devices.append({QString::fromWCharArray(target), QString::fromWCharArray(drive)});
    }
    return devices;
}

QStringList fixedDrives()
{
    QStringList drives;
    const DWORD present = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        const wchar_t root[] = {wchar_t(L'A' + letter), L':', L'\\', 0};
        if ((present & (1u << letter)) && GetDriveTypeW(root) == DRIVE_FIXED)
            drives.append(QString::fromWCharArray(root));
    }
    return drives;
}

bool isRemovableDrive(const QString &path)
{
    // Only a drive letter's root is asked: a share's would wait on its server.
    if (path.size() < 3 || !path.at(0).isLetter() || path.at(1) != QLatin1Char(':'))
        return false;
    const wchar_t root[] = {wchar_t(path.at(0).unicode()), L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOVABLE;
}

QHash<quint32, QString> volumeDrives()
{
    QHash<quint32, QString> drives;
    const DWORD present = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if (!(present & (1u << letter)))
            continue;
        const wchar_t root[] = {wchar_t(L'A' + letter), L':', L'\\', 0};
        // A network drive may keep the collection waiting on its server.
        const UINT type = GetDriveTypeW(root);
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE)
            continue;
        // A drive without a medium (an empty card reader) answers at once rather than asking the user.
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
        DWORD serial = 0;
        if (GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
            drives.insert(serial, QString::fromWCharArray(root, 2));
        SetErrorMode(previous);
    }
    return drives;
}

// Qt's local codec on Windows is the system's ANSI code page.
QTextCodec *ansiCodec()
{
    return QTextCodec::codecForLocale();
}

} // namespace platform
