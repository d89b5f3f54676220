// libFuzzer target for the compatibility cache's value in each of its layouts.

#include "traces/CompatCacheReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const CompatCache cache = readCompatCache(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    for (const CompatCacheEntry &entry : cache.entries)
        entry.path.size();
    return 0;
}
