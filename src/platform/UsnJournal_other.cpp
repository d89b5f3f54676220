#include "platform/UsnJournal.h"

#include "platform/FileSystem.h"

#include <QtEndian>

namespace platform {

UsnJournalRead readUsnJournal(const QString &)
{
    UsnJournalRead read;
    const QString path = qEnvironmentVariable("VIGILOR_USN_JOURNAL");
    if (path.isEmpty()) {
        read.access = UsnJournalRead::Access::Missing;
        return read;
    }
    QByteArray content;
    const ReadEnd end = readWholeFile(path, 8 + kLargestJournalRead, content, read.error);
    if (end == ReadEnd::NotOpened || end == ReadEnd::Failed || content.size() < 8) {
        read.error = read.error.isEmpty() ? QStringLiteral("no journal header") : read.error;
        return read;
    }
    read.access = UsnJournalRead::Access::Read;
    read.cut = end == ReadEnd::TooLarge;
    read.journalId = qFromLittleEndian<quint64>(content.constData());
    read.records = content.mid(8);
    return read;
}

QHash<QByteArray, QString> usnFolders(const QString &, const QVector<QByteArray> &)
{
    return {};
}

} // namespace platform
