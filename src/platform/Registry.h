#pragma once

#include <QString>

#if defined(Q_OS_WIN)
#include <qt_windows.h>
#else
// Stand-ins for the predefined registry root keys of Windows, with the same names.
enum RegistryRootKey { HKEY_CURRENT_USER = 1, HKEY_LOCAL_MACHINE = 2 };
using HKEY = RegistryRootKey;
#endif

namespace platform {

// The hive's name as it starts a settings path or a registry-export section: "HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER".
inline QString registryHiveName(HKEY hive)
{
    return hive == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE") : QStringLiteral("HKEY_CURRENT_USER");
}

// Whether the key `subKey` below `hive` can be opened for reading.
bool registryKeyExists(HKEY hive, const QString &subKey);

// The text of the value `name` of the key at `settingsPath` ("HKEY_LOCAL_MACHINE\…"), as the settings
// class reads it in the 64-bit registry view; empty when there is none.
QString registryValue(const QString &settingsPath, const QString &name);

} // namespace platform
