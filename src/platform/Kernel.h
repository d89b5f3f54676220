#pragma once

#include <QString>
#include <QStringList>

// What the running kernel says of itself from user mode: whether it checks drivers' signatures,
// whether a kernel debugger is attached, and which drivers are loaded. Each answer says why when it
// could not be had, so that "not asked" never reads as "nothing found".
namespace platform {

// One number the kernel was asked for.
struct KernelAnswer
{
    bool known = false;
    quint32 value = 0;
    QString why; // in the examiner's words, when not known
};

// SYSTEM_CODEINTEGRITY_INFORMATION's CodeIntegrityOptions. The stand-in elsewhere: the number that
// VIGILOR_CODE_INTEGRITY holds (decimal or 0x hex); unset is not known.
KernelAnswer codeIntegrityOptions();

// 1 when a kernel debugger is enabled and present, else 0. The stand-in: VIGILOR_KERNEL_DEBUGGER
// ("0" or "1"); unset is not known.
KernelAnswer kernelDebugger();

// The most loaded drivers one listing takes: a real system loads some 200 to 400.
constexpr int kLargestDriverListing = 4096;

struct LoadedDrivers
{
    bool read = false;
    QStringList paths; // as the system spells them: "\SystemRoot\…", "\??\C:\…", "C:\…"
    QString why;       // when not read, or what was left out
    bool cut = false;  // more than kLargestDriverListing
};

// The loaded drivers' files. The stand-in: the text file VIGILOR_LOADED_DRIVERS names, one path a
// line; unset is not known.
LoadedDrivers loadedDrivers();

} // namespace platform
