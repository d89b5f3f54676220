#pragma once

#include "traces/TraceSource.h"

// The Recycle Bin of each fixed drive: a row for each "$I" file, naming what was deleted, when and
// from where; in the bin while its "$R" file is there.
class RecycleBinSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;

private:
    void readDrive(const QString &drive, TraceFindings &found) const;
};
