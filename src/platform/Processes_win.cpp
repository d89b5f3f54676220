#include "platform/Processes.h"

#include <qt_windows.h>
#include <tlhelp32.h>

namespace platform {

QVector<RunningProcess> runningProcesses()
{
    QVector<RunningProcess> processes;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == 0) // the idle process
            continue;
        RunningProcess process;
        process.pid = entry.th32ProcessID;
        process.image = QString::fromWCharArray(entry.szExeFile);
        if (HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
            wchar_t path[32768];
            DWORD size = sizeof path / sizeof path[0];
            if (QueryFullProcessImageNameW(handle, 0, path, &size))
                process.path = QString::fromWCharArray(path, static_cast<int>(size));
            CloseHandle(handle);
        }
        processes.append(process);
    }
    CloseHandle(snapshot);
    return processes;
}

} // namespace platform
