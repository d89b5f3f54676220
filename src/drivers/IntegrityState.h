#pragma once

#include "drivers/DriverTypes.h"
#include "platform/Kernel.h"

// Whether Windows accepts unsigned drivers now and at the next start: the running kernel's code
// integrity options, its debugger, the boot configuration's entries and the vulnerable-driver
// blocklist. Each could-not-ask is a line of its own.

// The lines of CodeIntegrityOptions: red for integrity checks off, test signing and debug mode, and a
// plain line for memory integrity.
QVector<DriverLine> codeIntegrityLines(const platform::KernelAnswer &options);
QVector<DriverLine> kernelDebuggerLines(const platform::KernelAnswer &debugger);

// The boot configuration as the registry holds it (HKLM\BCD00000000): test signing, integrity checks
// off and the kernel debugger on the default entry are red, on another entry orange.
QVector<DriverLine> bootConfigurationLines();

// VulnerableDriverBlocklistEnable set to 0 is orange.
QVector<DriverLine> blocklistLines();
