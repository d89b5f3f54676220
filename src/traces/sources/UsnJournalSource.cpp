#include "traces/sources/UsnJournalSource.h"

#include "platform/UsnJournal.h"
#include "traces/TraceDecoders.h"

#include <QHash>
#include <QtEndian>

#include <algorithm>

namespace {
// How far back the journal is read.
constexpr int kJournalDays = 7;
} // namespace

QString UsnJournalSource::name() const
{
    return QStringLiteral("USN");
}

TraceFindings UsnJournalSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    for (const QString &drive : machine.fixedDrives)
        readDrive(machine, drive, found);
    return found;
}

void UsnJournalSource::readDrive(const TraceMachine &machine, const QString &drive, TraceFindings &found) const
{
    const QString shown = QStringLiteral("USN (%1)").arg(QDir::toNativeSeparators(drive));
    const platform::UsnJournalRead read = platform::readUsnJournal(drive);
    if (read.access == platform::UsnJournalRead::Access::Denied)
        found.unreadable.append(shown);
    if (read.access == platform::UsnJournalRead::Access::Failed)
        found.notRead.append(shown + QStringLiteral(": ") + read.error);
    if (read.access != platform::UsnJournalRead::Access::Read)
        return;
    QByteArray id(8, '\0');
    qToLittleEndian<quint64>(read.journalId, id.data());
    const QDateTime created = traces::fileTime(id, 0);
    if (created.isValid() && machine.bootTime.isValid() && created > machine.bootTime)
        found.signs.append(QObject::tr("Журнал USN создан заново: %1 (%2)")
                               .arg(QDir::toNativeSeparators(drive), traces::shownTime(created)));
    if (read.cut)
        found.notRead.append(
            shown +
            QObject::tr(": прочитаны последние %1 МиБ записей").arg(platform::kLargestJournalRead / (1024 * 1024)));
    bool broken = false;
    const QVector<traces::UsnRecord> records = traces::usnRecords(read.records, broken);
    if (broken)
        found.notRead.append(shown + QObject::tr(": запись повреждена, прочитаны записи до неё"));

    static const QRegularExpression kWatched(QStringLiteral("\\.(exe|dll|sys|pf|bat|cmd|ps1|lnk)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    constexpr quint32 kCreated = 0x100, kDeleted = 0x200, kOldName = 0x1000, kNewName = 0x2000, kClosed = 0x80000000u;
    struct Change
    {
        traces::UsnRecord record;
        TraceState state;
        QString renamedTo;
    };
    QVector<Change> changes;
    QHash<QByteArray, int> pendingRename; // a file's old name waiting for its new one
    QHash<QByteArray, int> lastRename;    // a file's last rename, whose closing record repeats its new name
    for (const traces::UsnRecord &record : records) {
        if (!record.time.isValid() || record.time.secsTo(machine.now) > kJournalDays * 86400)
            continue;
        const bool isWatched =
            kWatched.match(record.name).hasMatch() ||
            std::any_of(watched.cbegin(), watched.cend(),
                        [&record](const QRegularExpression &pattern) { return pattern.match(record.name).hasMatch(); });
        if (record.reasons & kNewName) {
            // Windows writes a rename as OLD_NAME, NEW_NAME, then NEW_NAME|CLOSE: one rename. A new name
            // whose old one is not in the journal's window was still a rename, never a creation.
            const auto old = pendingRename.constFind(record.file);
            const auto done = lastRename.constFind(record.file);
            if (old != pendingRename.cend()) {
                changes[*old].renamedTo = record.name;
                lastRename.insert(record.file, *old);
            } else if (done != lastRename.cend() && changes.at(*done).renamedTo == record.name) {
                // the same rename, closed
            } else if (isWatched) {
                lastRename.insert(record.file, changes.size());
                changes.append({record, TraceState::Renamed, record.name});
            }
            pendingRename.remove(record.file);
            continue;
        }
        if (!isWatched)
            continue;
        if (record.reasons & kOldName) {
            pendingRename.insert(record.file, changes.size());
            changes.append({record, TraceState::Renamed, QString()});
        } else if (record.reasons & kDeleted) {
            changes.append({record, TraceState::Deleted, QString()});
        } else if ((record.reasons & kCreated) && (record.reasons & kClosed)) {
            changes.append({record, TraceState::Created, QString()}); // once, as the file is closed
        }
    }
    QVector<QByteArray> parents;
    for (const Change &change : qAsConst(changes))
        parents.append(change.record.parent);
    const QHash<QByteArray, QString> folders = platform::usnFolders(drive, parents);
    for (const Change &change : qAsConst(changes)) {
        const QString folder = folders.value(change.record.parent);
        TraceRow &row = found.addRow(
            name(), folder.isEmpty() ? change.record.name : folder + QLatin1Char('\\') + change.record.name,
            change.record.time);
        row.state = change.state;
        row.renamedTo = change.renamedTo;
    }
}
