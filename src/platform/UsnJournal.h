#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace platform {

// What a read of a volume's NTFS change journal gave.
struct UsnJournalRead
{
    enum class Access { Read, Denied, Missing, Failed };
    Access access = Access::Failed; // Missing: no NTFS, or no journal on it
    quint64 journalId = 0;          // a FILETIME: when the journal was created
    QByteArray records;             // USN_RECORD_V2/V3 records, oldest first
    QString error;
    bool cut = false; // the read stopped at its size or time
};

// The newest records of the journal, at most kLargestJournalRead bytes of them, within
// kJournalReadMilliseconds.
constexpr int kLargestJournalRead = 64 * 1024 * 1024;
constexpr int kJournalReadMilliseconds = 5000;

// The change journal of the fixed drive `drive` ("C:\"). Windows: FSCTL_QUERY_USN_JOURNAL and
// FSCTL_READ_USN_JOURNAL on the volume, which needs administrator rights. The stand-in elsewhere
// reads the file VIGILOR_USN_JOURNAL names: the journal's identifier (8 bytes, little-endian), then
// raw records; unset, a volume without a journal.
UsnJournalRead readUsnJournal(const QString &drive);

// The folders that still exist among `references` (file references of 8 or 16 bytes, as the records
// give them) on `drive`, as paths; at most 10,000 are asked. The stand-in knows none.
QHash<QByteArray, QString> usnFolders(const QString &drive, const QVector<QByteArray> &references);

} // namespace platform
