// libFuzzer target for shortcuts (.lnk) read through the library: a target or a reason, nothing else.

#include "traces/ShortcutReader.h"

#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir scratch;
    QString error;
    const auto target =
        readShortcut(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)), scratch.path(), error);
    if (!target && error.isEmpty())
        std::abort();
    return 0;
}
