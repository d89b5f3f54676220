#pragma once

#include <QString>
#include <QVector>

namespace platform {

// What a read of one of Windows' event logs gave.
struct EventLogRead
{
    enum class Access { Read, Denied, Failed };
    Access access = Access::Failed;
    QString xml;      // the events as <Events><Event …>…</Event>…</Events>, newest first
    QString error;    // why it failed
    bool cut = false; // more events than kLargestEventRead, or the time ran out
};

// The most events one read takes, and the time it may take.
constexpr int kLargestEventRead = 10000;
constexpr int kEventReadMilliseconds = 5000;

// The events of the log `channel` ("System", "Security") whose id is one of `ids`, of the last `days`
// days. On Windows through the event log service; the stand-in elsewhere reads the file that
// VIGILOR_EVENT_LOG names (as `wevtutil qe <log> /f:xml /e:Events` writes it; every channel in one
// file), and an unset variable is an empty log.
EventLogRead readEventLog(const QString &channel, const QVector<int> &ids, int days);

} // namespace platform
