#include "platform/Session.h"

#include <qt_windows.h>

namespace platform {

QString userName()
{
    wchar_t name[257] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (!GetUserNameW(name, &size))
        return QString();
    return QString::fromWCharArray(name);
}

} // namespace platform
