#pragma once

#include "traces/TraceSource.h"

// The user's Recent items: a row for each shortcut, naming its target (or the shortcut, when it
// keeps none) and whether the target lay on a removable drive, a share or a CD.
class RecentSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
