#pragma once

// The predefined registry root keys HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, for the files that
// name them.
#include "platform/Registry.h"

#if defined(Q_OS_WIN)
#include <qt_windows.h>
#endif
