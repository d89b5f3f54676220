// libFuzzer target for the Recycle Bin's "$I" files (both layouts).

#include "traces/TraceDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    traces::recycledFile(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    return 0;
}
