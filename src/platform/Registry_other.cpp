#include "platform/RegistryHives.h"

#include "platform/RegistryFile.h"

// Away from Windows the registry is a registry-export text file named by VIGILOR_REGISTRY_FILE (read
// afresh on every call); without it the registry is empty.
namespace platform {
namespace {
RegistryFile currentRegistry()
{
    const QString path = qEnvironmentVariable("VIGILOR_REGISTRY_FILE");
    return path.isEmpty() ? RegistryFile() : RegistryFile::load(path);
}
} // namespace

bool registryKeyExists(HKEY hive, const QString &subKey)
{
    if (subKey.isEmpty())
        return true;
    return currentRegistry().keyExists(registryHiveName(hive) + QLatin1Char('\\') + subKey);
}

QString registryValue(const QString &settingsPath, const QString &name)
{
    return currentRegistry().value(settingsPath, name);
}

RegistryKeyContents readRegistryKey(HKEY hive, const QString &subKey)
{
    return currentRegistry().contents(registryHiveName(hive) + QLatin1Char('\\') + subKey);
}

} // namespace platform
