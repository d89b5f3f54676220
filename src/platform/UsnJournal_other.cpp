#include "platform/UsnJournal.h"

#include "platform/FileSystem.h"

#include <QFile>
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
    QFile file(path);
    if (!openRegularFile(file, read.error))
        return read;
    const QByteArray header = file.read(8);
    if (header.size() < 8) {
        read.error = QStringLiteral("no journal header");
        return read;
    }
    read.access = UsnJournalRead::Access::Read;
    read.journalId = qFromLittleEndian<quint64>(header.constData());
    // The newest records, as the live journal gives them: a walk over the records' lengths, a piece
    // at a time, finds the first record that starts within the last kLargestJournalRead bytes.
    constexpr qint64 kLargestStandInFile = qint64(1) << 30;
    const qint64 size = file.size();
    if (size > kLargestStandInFile) {
        read.access = UsnJournalRead::Access::Failed;
        read.error = QStringLiteral("larger than 1 GiB");
        return read;
    }
    qint64 at = 8;
    bool broken = false; // a record's length is no record's: what follows it is read, and the reader names it
    while (!broken && size - at > kLargestJournalRead && file.seek(at)) {
        const QByteArray piece = file.read(1024 * 1024);
        if (piece.size() < 4)
            break;
        for (qint64 offset = 0; size - at > kLargestJournalRead && offset + 4 <= piece.size();) {
            const quint32 length = qFromLittleEndian<quint32>(piece.constData() + offset);
            broken = length < 8 || length % 8 != 0;
            if (broken)
                break;
            at += length;
            offset += length;
            read.cut = true;
        }
    }
    if (!file.seek(at)) {
        read.access = UsnJournalRead::Access::Failed;
        read.error = file.errorString();
        return read;
    }
    read.records = file.read(kLargestJournalRead);
    read.cut = read.cut || !file.atEnd();
    return read;
}

QHash<QByteArray, QString> usnFolders(const QString &, const QVector<QByteArray> &)
{
    return {};
}

} // namespace platform
