#pragma once

#include "rules/DetectionRule.h"
#include "traces/TraceTypes.h"

#include <QList>
#include <QVector>

#include <atomic>
#include <functional>

class DriverList;

// The collector: it runs the table of sources (each a reader of its own under sources/, behind
// TraceSource), settles the rows' states, hashes each file once, matches the rules and judges the
// signs no one source gives. Adding a source is a new file under sources/ and a row in the table of
// ExecutionTraces.cpp.
//
// Reads every trace source and the signs, marks each row's state, hashes the files that are there
// (unless `hashFiles` is false) and matches the rows against the rules. Reads only: nothing of the
// machine is written. Each file is looked at and hashed once however it is spelled, files of up to
// 1 GiB and 8 GiB in all; trace files are read up to 64 MiB, folders up to 100,000 entries. `progress` (optional) hears
// (done, total) from the calling thread as the work goes on. Once `stop` is set, no further file is hashed.
TraceCollection collectTraces(const TraceMachine &machine, const QList<DetectionRule> &rules,
                              const std::function<void(int, int)> &progress = {}, bool hashFiles = true,
                              const std::atomic<bool> *stop = nullptr);

// Marks the rows that a rule matches: a "traces" rule by its pattern against the file name, any file
// rule by a listed SHA-256, each against the row's program, then against the files it loaded. The
// first matching rule in list order names the row.
// A file rule's SHA-1 digests are matched against the SHA-1 Amcache recorded, for files up to 30 MiB.
void matchTraces(QVector<TraceRow> &rows, const QList<DetectionRule> &rules);

// Marks the driver rows no rule matched whose recorded SHA-1 the list of vulnerable and malicious
// drivers holds.
void matchListedDrivers(QVector<TraceRow> &rows, const DriverList &list);
