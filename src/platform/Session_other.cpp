#include "platform/Session.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

namespace platform {

QString userName()
{
    const passwd *entry = getpwuid(geteuid());
    return entry ? QFile::decodeName(entry->pw_name) : QString();
}

} // namespace platform
