#pragma once

#include "traces/TraceSource.h"

#include <QRegularExpression>
#include <QVector>

// The NTFS change journal of each fixed drive: what was created, renamed or deleted in the last week
// among programs, libraries, drivers, scripts, Prefetch files and shortcuts, or what `watched` (the
// "traces" rules' patterns) names; a journal made anew since Windows started is a red sign (deleting
// it wipes this record).
class UsnJournalSource : public TraceSource
{
public:
    explicit UsnJournalSource(QVector<QRegularExpression> watched) : watched(std::move(watched)) {}
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;

private:
    void readDrive(const TraceMachine &machine, const QString &drive, TraceFindings &found) const;

    const QVector<QRegularExpression> watched;
};
