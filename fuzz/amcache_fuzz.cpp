// libFuzzer target for Amcache's hive: libregf's reading of the bytes and our walk of both layouts.
// Any bytes must read or be refused with a reason, within the hive's bound of entries.

#include "traces/AmcacheReader.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("Amcache.hve"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    Amcache amcache;
    QString reason;
    const bool read = readAmcache(path, amcache, reason, nullptr, 5);
    if ((!read && reason.isEmpty()) || amcache.entries.size() > kLargestAmcache)
        std::abort();
    for (const AmcacheEntry &entry : amcache.entries) {
        if (entry.path.isEmpty() || (!entry.sha1.isEmpty() && entry.sha1.size() != 40))
            std::abort();
    }
    return 0;
}
