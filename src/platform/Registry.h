#pragma once

#include <QString>

#if defined(Q_OS_WIN)
// The key handle as the Windows headers declare it, so that this header, which the loader's and the
// scanner's headers include, need not pull those in. The predefined keys come with
// platform/RegistryHives.h.
struct HKEY__;
typedef struct HKEY__ *HKEY;
#else
// Stand-ins for the predefined registry root keys of Windows, with the same names.
enum RegistryRootKey { HKEY_CURRENT_USER = 1, HKEY_LOCAL_MACHINE = 2 };
using HKEY = RegistryRootKey;
#endif

namespace platform {

// The hive's name as it starts a settings path or a registry-export section: "HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER".
QString registryHiveName(HKEY hive);

// Whether the key `subKey` below `hive` can be opened for reading.
bool registryKeyExists(HKEY hive, const QString &subKey);

// The text of the value `name` of the key at `settingsPath` ("HKEY_LOCAL_MACHINE\…"), as the settings
// class reads it in the 64-bit registry view; empty when there is none.
QString registryValue(const QString &settingsPath, const QString &name);

} // namespace platform
