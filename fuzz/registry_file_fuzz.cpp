// libFuzzer target for the registry stand-in's export reader.

#include "platform/RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const RegistryFile registry =
        RegistryFile::parse(QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    for (const QString &key : registry.keyPaths())
        registry.contents(key);
    return 0;
}
