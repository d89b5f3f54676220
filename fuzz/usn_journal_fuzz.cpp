// libFuzzer target for the NTFS change journal's records (V2 and V3): the records before a broken one
// are kept, the broken one named.

#include "traces/TraceDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool broken = false;
    traces::usnRecords(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)), broken);
    return 0;
}
