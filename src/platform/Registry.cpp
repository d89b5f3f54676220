#include "platform/RegistryHives.h"

namespace platform {

QString registryHiveName(HKEY hive)
{
    return hive == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE") : QStringLiteral("HKEY_CURRENT_USER");
}

} // namespace platform
