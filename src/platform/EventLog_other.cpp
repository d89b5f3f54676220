#include "platform/EventLog.h"

#include "platform/FileSystem.h"

#include <QByteArray>

namespace platform {

EventLogRead readEventLog(const QString &, const QVector<int> &, int)
{
    EventLogRead read;
    read.access = EventLogRead::Access::Read;
    const QString path = qEnvironmentVariable("VIGILOR_EVENT_LOG");
    if (path.isEmpty())
        return read;
    QByteArray content;
    const ReadEnd end = readWholeFile(path, 64 * 1024 * 1024, content, read.error);
    if (end != ReadEnd::Whole) {
        read.access = EventLogRead::Access::Failed;
        if (read.error.isEmpty())
            read.error = QStringLiteral("larger than 64 MiB");
        return read;
    }
    read.xml = QString::fromUtf8(content);
    return read;
}

} // namespace platform
