#include "traces/sources/CompatCacheSource.h"

#include "platform/Registry.h"
#include "traces/CompatCacheReader.h"

namespace {
const char *const kCacheKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\AppCompatCache";
} // namespace

QString CompatCacheSource::name() const
{
    return QStringLiteral("ShimCache");
}

TraceFindings CompatCacheSource::collect(const TraceMachine &, TraceLimits &) const
{
    TraceFindings found;
    const QString place = traces::registryPlace(HKEY_LOCAL_MACHINE, QLatin1String(kCacheKey));
    const platform::RegistryKeyContents key = platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kCacheKey));
    if (key.access == platform::RegistryKeyContents::Denied) {
        found.unreadable.append(QStringLiteral("%1 (%2)").arg(name(), place));
        return found;
    }
    const platform::RegistryValue *value = key.value(QStringLiteral("AppCompatCache"));
    if (!value) {
        // Windows keeps the value from its first start: without it, the cache was removed.
        if (key.access == platform::RegistryKeyContents::Read)
            found.signs.append(QObject::tr("Кэш совместимости (ShimCache) удалён: нет значения AppCompatCache"));
        return found;
    }
    const CompatCache cache = readCompatCache(value->data);
    for (const CompatCacheEntry &entry : cache.entries) {
        TraceRow &row = found.addRow(name(), entry.path, entry.modified);
        row.timeKind = TraceTimeKind::Modified;
        row.cachePosition = entry.position;
    }
    if (!cache.problem.isEmpty())
        found.signs.append(
            QObject::tr("Кэш совместимости (ShimCache, %1): %2")
                .arg(cache.layout.isEmpty() ? QObject::tr("формат неизвестен") : cache.layout, cache.problem));
    return found;
}
