#pragma once

#include <QString>

namespace platform {

// The system's text for a Windows error code ("Access is denied."), or "error N" when it has none.
QString systemMessage(unsigned long code);

} // namespace platform
