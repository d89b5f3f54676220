#pragma once

#include "traces/TraceSource.h"

// Amcache: the program files and drivers Windows recorded, with their SHA-1, kept after the files are
// gone. The hive is locked while Windows runs: a private copy is read, made from the raw volume where
// the file system refuses it.
class AmcacheSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
