#include "platform/Programs.h"

namespace platform {

// Windows finds the program in the working directory of the child by its bare name.
QString unpackerProgram(const QString &)
{
    return QStringLiteral("unzip.exe");
}

// Windows resolves a relative program path against the working directory itself.
QString toolProgram(const QString &relativePath)
{
    return relativePath;
}

QString fileManagerProgram()
{
    return QStringLiteral("explorer.exe");
}

} // namespace platform
