#pragma once

#include <QString>

namespace platform {

// The program to start for the downloaded unpacking tool "unzip.exe" lying in `folder`, which is also
// the working directory it runs in.
QString unpackerProgram(const QString &folder);

} // namespace platform
