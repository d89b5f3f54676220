// libFuzzer target for the PROXY protocol line a balancer sends first.

#include "ProxyProtocol.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    proxySource(line);
    normalAddress(line);
    return 0;
}
