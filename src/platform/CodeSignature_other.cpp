#include "platform/CodeSignature.h"

namespace platform {

SystemSignature systemSignature(const QString &)
{
    return {};
}

} // namespace platform
