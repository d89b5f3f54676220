#pragma once

#include "traces/TraceSource.h"

// The Program Compatibility Assistant's launch list (Windows 11): a row for each program it saw start,
// at its time.
class PcaSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
