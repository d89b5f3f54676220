#include "platform/RegistryHives.h"

#include <QSettings>

namespace platform {

bool registryKeyExists(HKEY hive, const QString &subKey)
{
    const std::wstring key = subKey.toStdWString();
    HKEY handle = nullptr;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

QString registryValue(const QString &settingsPath, const QString &name)
{
    const QSettings settings(settingsPath, QSettings::Registry64Format);
    return settings.value(name, QString()).toString();
}

} // namespace platform
