#include "platform/UsnJournal.h"

#include "platform/WindowsError.h"

#include <QElapsedTimer>

#include <qt_windows.h>
// The volume's control codes after windows.h.
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {
// The volume of a drive root ("C:\"), opened for its journal; null when it cannot be.
HANDLE openVolume(const QString &drive, DWORD &error)
{
    const QString device = QStringLiteral("\\\\.\\") + drive.left(2);
    HANDLE volume =
        CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    error = volume == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return volume == INVALID_HANDLE_VALUE ? nullptr : volume;
}

} // namespace

UsnJournalRead readUsnJournal(const QString &drive)
{
    UsnJournalRead read;
    DWORD error = 0;
    HANDLE volume = openVolume(drive, error);
    if (!volume) {
        read.access = error == ERROR_ACCESS_DENIED ? UsnJournalRead::Access::Denied : UsnJournalRead::Access::Failed;
        read.error = systemMessage(error);
        return read;
    }
    USN_JOURNAL_DATA journal{};
    DWORD bytes = 0;
    if (!DeviceIoControl(volume, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal, &bytes, nullptr)) {
        error = GetLastError();
        read.access = error == ERROR_ACCESS_DENIED ? UsnJournalRead::Access::Denied
                      : (error == ERROR_JOURNAL_NOT_ACTIVE || error == ERROR_INVALID_FUNCTION)
                          ? UsnJournalRead::Access::Missing
                          : UsnJournalRead::Access::Failed;
        read.error = systemMessage(error);
        CloseHandle(volume);
        return read;
    }
    read.access = UsnJournalRead::Access::Read;
    read.journalId = journal.UsnJournalID;
    // The newest records: what the last week left is near the journal's end.
    READ_USN_JOURNAL_DATA request{};
    request.StartUsn = std::max<USN>(journal.FirstUsn, journal.NextUsn - kLargestJournalRead);
    request.ReasonMask = 0xFFFFFFFF;
    request.UsnJournalID = journal.UsnJournalID;
    std::vector<char> buffer(64 * 1024);
    QElapsedTimer clock;
    clock.start();
    while (request.StartUsn < journal.NextUsn) {
        if (read.records.size() >= kLargestJournalRead || clock.elapsed() > kJournalReadMilliseconds) {
            read.cut = true;
            break;
        }
        if (!DeviceIoControl(volume, FSCTL_READ_USN_JOURNAL, &request, sizeof request, buffer.data(),
                             DWORD(buffer.size()), &bytes, nullptr)) {
            read.access = UsnJournalRead::Access::Failed;
            read.error = systemMessage(GetLastError());
            break;
        }
        if (bytes <= sizeof(USN))
            break;
        USN next = 0;
        std::memcpy(&next, buffer.data(), sizeof next);
        read.records.append(buffer.data() + sizeof(USN), int(bytes - sizeof(USN)));
        if (next <= request.StartUsn)
            break;
        request.StartUsn = next;
    }
    CloseHandle(volume);
    return read;
}

QHash<QByteArray, QString> usnFolders(const QString &drive, const QVector<QByteArray> &references)
{
    QHash<QByteArray, QString> folders;
    DWORD error = 0;
    HANDLE volume = openVolume(drive, error);
    if (!volume)
        return folders;
    for (const QByteArray &reference : references.mid(0, 10000)) {
        FILE_ID_DESCRIPTOR id{};
        id.dwSize = sizeof id;
        if (reference.size() == 8) {
            id.Type = FileIdType;
            std::memcpy(&id.FileId, reference.constData(), 8);
        } else if (reference.size() == 16) {
            id.Type = ExtendedFileIdType;
            std::memcpy(&id.ExtendedFileId, reference.constData(), 16);
        } else {
            continue;
        }
        HANDLE folder = OpenFileById(volume, &id, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     FILE_FLAG_BACKUP_SEMANTICS);
        if (folder == INVALID_HANDLE_VALUE)
            continue;
        wchar_t path[MAX_PATH * 4];
        const DWORD length =
            GetFinalPathNameByHandleW(folder, path, DWORD(std::size(path)), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        CloseHandle(folder);
        if (length == 0 || length >= std::size(path))
            continue;
        QString text = QString::fromWCharArray(path, int(length));
        if (text.startsWith(QLatin1String("\\\\?\\")))
            text = text.mid(4);
        folders.insert(reference, text);
    }
    CloseHandle(volume);
    return folders;
}

} // namespace platform
