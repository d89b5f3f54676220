#pragma once

#include <QString>

// How outside programs are named when they are started: the downloaded unpacking tool, the tools of
// the unpacked utilities archive and the file manager.
namespace platform {

// The program to start for the downloaded unpacking tool "unzip.exe" lying in `folder`, which is also
// the working directory it runs in.
QString unpackerProgram(const QString &folder);

// The program to start for a tool of the utilities archive, given by its path relative to the
// working directory (such as "ProcessHacker/ProcessHacker.exe").
QString toolProgram(const QString &relativePath);

// The file manager, which opens the folder given as its one argument.
QString fileManagerProgram();

} // namespace platform
