#pragma once

#include "traces/TraceSource.h"

// Windows Defender's own record: what it was told not to scan (each exclusion a notice; red when it
// spares a whole drive, a user's or temporary folder, or the game's or Steam's folder), and from its
// log of the last 30 days what it caught (rows, the threat's name in the rule cell) and when its
// protection was switched off or its exclusions changed (signs).
class DefenderSource : public TraceSource
{
public:
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;

    // Whether excluding `path` from scanning spares one of `folders` entirely, or a whole drive.
    static bool sparesTooMuch(const QString &path, const QStringList &folders);

private:
    void readLog(const TraceMachine &machine, TraceFindings &found) const;
};
