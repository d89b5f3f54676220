#pragma once

#include "drivers/DriverTypes.h"
#include "rules/DriverList.h"
#include "traces/TraceTypes.h"

#include <QPair>

#include <atomic>
#include <functional>

// Where a drivers check looks and how it places the files it finds. `current` asks the system.
struct DriverMachine
{
    QStringList systemFolders;                // Windows and Program Files: where a legitimate tool's driver lies
    QStringList userFolders;                  // the users' profiles, application data and temporary folders
    QVector<QPair<QString, QString>> devices; // "\Device\HarddiskVolume3" → "C:"
    TraceMachine traces;                      // its Windows folder, and the time and drives the journal is read with

    static DriverMachine current();
};

// The drivers check: the integrity state, every loaded driver and kernel-driver service with its
// file's digests, signature and list entry, the drivers installed in the last 30 days and the listed
// drivers the change journal saw deleted in the last week, judged red or orange. Reads only; each
// file once, up to 64 MiB. `listProblem` (not empty) says the league's list is not loaded. `progress`
// hears (done, total) from the calling thread; once `stop` is set, no further file is read.
DriverCheck checkDrivers(const DriverMachine &machine, const DriverList &list, const QString &listProblem,
                         const std::function<void(int, int)> &progress = {}, const std::atomic<bool> *stop = nullptr);

// A driver's path as the system spells it ("\SystemRoot\…", "\??\C:\…", "\Windows\…",
// "System32\…", "\Device\HarddiskVolume3\…") as a drive path.
QString driverDrivePath(const QString &recorded, const DriverMachine &machine);
