#pragma once

#include "traces/TraceSource.h"

// The Prefetch folder: a row for each program a Prefetch file names, at its last run, with the files
// it loaded; a red sign for each file the game loaded from outside its own and the system's folders,
// and for a Prefetch that is switched off, empty or untouched since Windows started.
class PrefetchSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
