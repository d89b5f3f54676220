#pragma once

#include "traces/TraceSource.h"

// What the System and Security event logs keep of a player covering tracks: a log cleared, the clock
// changed, a trace service stopped or reconfigured, a driver installed (red signs); and every service
// installed lately as a row of its image file.
class EventLogSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;

private:
    void readChannel(const TraceMachine &machine, const QString &channel, const QVector<int> &ids,
                     TraceFindings &found) const;
};
