// libFuzzer target for Prefetch files: the decompression, the library's formats and our format-31
// reader. Any bytes must read or be refused with a reason, within the bounds of what a file may
// expand into, never crash, leak or run into undefined behaviour.

#include "traces/PrefetchReader.h"

#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir scratch;
    QString error;
    QString detail;
    const auto record = readPrefetch(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)),
                                     scratch.path(), error, &detail);
    if (record && (record->files.size() > kLargestPrefetchNames || record->volumes.size() > kLargestPrefetchVolumes))
        std::abort();
    if (!record && error.isEmpty())
        std::abort();
    return 0;
}
