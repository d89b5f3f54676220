#pragma once

#include "traces/TraceSource.h"

// The application compatibility cache ("ShimCache"): a row for every executable the shell looked at,
// its time the file's modification time as the cache kept it (not a run time), its place in the cache
// in the tooltip. A layout it does not know, or an entry cut short, is a sign; the entries before it
// are kept.
class CompatCacheSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
