#include "platform/Unpacker.h"

namespace platform {

// Windows finds the program in the working directory of the child by its bare name.
QString unpackerProgram(const QString &)
{
    return QStringLiteral("unzip.exe");
}

} // namespace platform
