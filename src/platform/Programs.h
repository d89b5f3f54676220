#pragma once

#include <QString>
#include <QStringList>

// How outside programs are named when they are started: the downloaded unpacking tool, the tools of
// the unpacked utilities archive, taskkill and the file manager. On Windows every one is named by an
// absolute path: a bare name is looked up in the program's own folder first, where a player could
// plant a file of the same name.
namespace platform {

// The program to start for the downloaded unpacking tool "unzip.exe" lying in `folder`, which is also
// the working directory it runs in.
QString unpackerProgram(const QString &folder);

// The program to start for a tool of the utilities archive, given by its path relative to the
// working directory (such as "ProcessHacker/ProcessHacker.exe").
QString toolProgram(const QString &relativePath);

// The file manager, which opens the folder given as its one argument.
QString fileManagerProgram();

// Asks every running process of the program image `image` (such as "chrome.exe") to end, forcibly,
// without waiting for the outcome.
void endProgram(const QString &image);

} // namespace platform
