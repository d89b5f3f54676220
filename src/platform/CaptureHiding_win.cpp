#include "platform/CaptureHiding.h"

#include <QObject>

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {
struct Walk
{
    DWORD self = GetCurrentProcessId();
    int seen = 0;
    QVector<HiddenWindow> windows;
};

QString imageOf(DWORD pid)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return QString();
    wchar_t path[1024];
    DWORD size = 1024;
    const QString image = QueryFullProcessImageNameW(process, 0, path, &size)
                              ? QString::fromWCharArray(path, static_cast<int>(size))
                              : QString();
    CloseHandle(process);
    return image;
}

BOOL CALLBACK visit(HWND window, LPARAM context)
{
    auto *walk = reinterpret_cast<Walk *>(context);
    if (++walk->seen > kLargestWindowListing)
        return FALSE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    DWORD affinity = 0;
    if (pid == walk->self || !IsWindowVisible(window) || !GetWindowDisplayAffinity(window, &affinity) ||
        (affinity != kMonitor && affinity != kExcludeFromCapture))
        return TRUE;
    wchar_t title[512];
    const int length = GetWindowTextW(window, title, 512);
    walk->windows.append({QString::fromWCharArray(title, std::max(length, 0)), imageOf(pid), qint64(pid), affinity});
    return TRUE;
}
} // namespace

HiddenWindows windowsHiddenFromCapture()
{
    HiddenWindows hidden;
    Walk walk;
    EnumWindows(visit, reinterpret_cast<LPARAM>(&walk));
    hidden.asked = true;
    hidden.windows = walk.windows;
    if (walk.seen > kLargestWindowListing)
        hidden.why = QObject::tr("первые %1 окон").arg(kLargestWindowListing);
    return hidden;
}

} // namespace platform
