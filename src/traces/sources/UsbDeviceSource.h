#pragma once

#include "traces/TraceSource.h"

// The USB storage devices Windows installed: a row for each device and serial number, its time the
// last arrival, its program cell the friendly name and serial, its medium removable; a drive removed
// within the hour before the collection is a notice.
class UsbDeviceSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;
};
