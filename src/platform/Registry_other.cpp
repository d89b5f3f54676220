#include "platform/RegistryHives.h"

#include "platform/RegistryFile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>

// Away from Windows the registry is a registry-export text file named by VIGILOR_REGISTRY_FILE (read
// again whenever the file changes); without it the registry is empty.
namespace platform {
namespace {
RegistryFile currentRegistry()
{
    const QString path = qEnvironmentVariable("VIGILOR_REGISTRY_FILE");
    if (path.isEmpty())
        return RegistryFile();
    // The traces read many keys of one large file, from a worker thread too.
    static QMutex mutex;
    static QString cachedPath;
    static QDateTime cachedTime;
    static qint64 cachedSize = -1;
    static RegistryFile cached;
    const QFileInfo file(path);
    const QMutexLocker lock(&mutex);
    if (path != cachedPath || file.lastModified() != cachedTime || file.size() != cachedSize) {
        cached = RegistryFile::load(path);
        cachedPath = path;
        cachedTime = file.lastModified();
        cachedSize = file.size();
    }
    return cached;
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
