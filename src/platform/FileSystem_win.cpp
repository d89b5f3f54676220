#include "platform/FileSystem.h"

#include <QStandardPaths>

namespace platform {

// The user's own %TEMP%, private to the account by its access rights.
QString temporaryFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

} // namespace platform
